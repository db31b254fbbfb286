#pragma once

#include <QObject>
#include <QtGlobal>

namespace ox::ui {

// The form's child `name` of type T. The forms are the plug-in's own, so a
// missing control is a programming error and stops the program, as a failed
// checked connection does.
template <typename T>
T* requireChild(const QObject* form, const char* name)
{
    T* child = form ? form->findChild<T*>(QLatin1String(name)) : nullptr;
    if (!child)
        qFatal("%s: the form has no %s named \"%s\"", Q_FUNC_INFO, T::staticMetaObject.className(), name);
    return child;
}

} // namespace ox::ui

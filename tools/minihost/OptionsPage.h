#pragma once

#include <QLatin1String>
#include <QMenu>
#include <QWidget>

// The control of the plug-in's options page named `name` among the children
// of `page`. The device menu carries controls of the same names: the page's
// own is taken.
template <typename T> T* optionControl(const QWidget& page, const char* name)
{
    for (T* control : page.findChildren<T*>(QLatin1String(name))) {
        bool inMenu = false;
        for (QObject* o = control->parent(); o && !inMenu; o = o->parent())
            inMenu = qobject_cast<QMenu*>(o) != nullptr;
        if (!inMenu)
            return control;
    }
    return nullptr;
}

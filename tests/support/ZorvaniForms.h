#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QVariant>

// The value of an options-page control as a user sees and sets it: a check
// box's state, a combo box's index, a spin box's value.
namespace testsupport {

inline QVariant shown(const QWidget* w)
{
    if (auto* box = qobject_cast<const QCheckBox*>(w))
        return box->isChecked();
    if (auto* combo = qobject_cast<const QComboBox*>(w))
        return combo->currentIndex();
    if (auto* spin = qobject_cast<const QSpinBox*>(w))
        return spin->value();
    return qobject_cast<const QDoubleSpinBox*>(w)->value();
}

inline void show(QWidget* w, const QVariant& v)
{
    if (auto* box = qobject_cast<QCheckBox*>(w))
        box->setChecked(v.toBool());
    else if (auto* combo = qobject_cast<QComboBox*>(w))
        combo->setCurrentIndex(v.toInt());
    else if (auto* spin = qobject_cast<QSpinBox*>(w))
        spin->setValue(v.toInt());
    else
        qobject_cast<QDoubleSpinBox*>(w)->setValue(v.toDouble());
}

// Another value the control accepts: the other state, or the far end of its range.
inline QVariant otherValue(const QWidget* w)
{
    if (qobject_cast<const QCheckBox*>(w))
        return !shown(w).toBool();
    if (auto* spin = qobject_cast<const QSpinBox*>(w))
        return spin->value() == spin->minimum() ? spin->maximum() : spin->minimum();
    auto* spin = qobject_cast<const QDoubleSpinBox*>(w);
    return spin->value() == spin->minimum() ? spin->maximum() : spin->minimum();
}

} // namespace testsupport

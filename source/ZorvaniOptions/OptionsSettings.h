#pragma once

#include <QString>
#include <QVector>

class QSettings;
class QWidget;

// The options page in the host's settings store: the keys of the group
// "ZorvaniOptions", the control that holds each and the value a load falls
// back to. Save writes the controls' states; load puts the stored values into
// the controls, whose change handlers take them to the driver and the engine.
// Check boxes are stored as bool, combo boxes as their index, spin boxes as
// int or double after their kind; the receiver's serial and address as
// Latin-1 bytes. GUI thread only.
class OptionsSettings {
public:
    static constexpr const char* kGroup = "ZorvaniOptions";

    enum class Set {
        Full,    // every key; load falls back to the table's defaults
        Reduced, // the DSP and front-end subset; load falls back to the control's current value
    };

    // The two texts that belong to the options' receiver record rather than to a control.
    struct ReceiverText {
        QString serial;
        QString address;
    };

    // `form` holds every control the table names and outlives this object.
    explicit OptionsSettings(QWidget* form);

    void save(QSettings& store, Set set, const ReceiverText& receiver) const;
    // A stored value that is missing, of the wrong type or outside its
    // control's range is replaced by the fallback of `set`. Returns the stored
    // serial and address (empty when absent; always empty for the reduced set).
    ReceiverText load(QSettings& store, Set set) const;

private:
    struct Entry {
        QString name;
        QWidget* control;               // null for the receiver texts
        QString ReceiverText::*text;    // which text, for those two
        double fallback;                // what a full load applies (bools 0 or 1, combo boxes an index)
        bool reduced;                   // also in the reduced set
    };
    // The full set in the order save writes it.
    QVector<Entry> m_entries;
};

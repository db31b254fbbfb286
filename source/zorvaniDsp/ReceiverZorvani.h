#pragma once

#include <QObject>

// One receiver of the engine: two channels demodulated from the same IQ.
class ReceiverZorvani : public QObject {
    Q_OBJECT
public:
    explicit ReceiverZorvani(quint32 number, QObject* parent = nullptr);

    quint32 number() const { return m_number; }

public slots:
    void vacClose();
    void lineoutOpen();
    void lineoutClose();

signals:
    void dBmMeter(quint32 channel, double level);
    void adcMeter(quint32 channel, double re, double im);
    void wfmStereo(bool stereo);

private:
    quint32 m_number;
};

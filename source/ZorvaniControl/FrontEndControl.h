#pragma once

#include <QObject>

// State of the external front-end board (band-pass filters, attenuator,
// preamplifier) and the 16-bit control word the receiver forwards to it.
class FrontEndControl : public QObject {
    Q_OBJECT
public:
    // Band index 0..13 for a receiver frequency in Hz (13: no band filter).
    static int bandForFrequency(qint64 hz);
    // Band-pass code of a band index (bits 0..10), 0 for bands without one.
    static quint16 bandCode(int band);

    explicit FrontEndControl(QObject* parent = nullptr);

    bool bpf() const { return m_bpf; }
    bool att() const { return m_att; }
    bool preamp() const { return m_preamp; }
    int band() const { return m_band; }
    // The word for the current state: band code (BPF on only), 0x080 preamp, 0x800 ATT.
    quint16 word() const;
    // Level correction in dB: +18.5 with ATT, -10.3 with the preamplifier.
    double levelCorrection() const;

    // Returns true when the flag changed (the word is then re-emitted).
    bool setBpf(bool on);
    // Band index clamped to 0..13; re-emits the word when the band changed.
    bool setBand(int band);

public slots:
    void setAtt(bool on);
    void setPreamp(bool on);
    // Recomputes and emits the word whatever it was.
    void emitState();

signals:
    void valueChanged(ushort word);
    void preampCoeffChanged(double dB);

private:
    void emitIfChanged();

    bool m_bpf = false;
    int m_band = 13;
    bool m_att = false;
    bool m_preamp = false;
    quint16 m_lastWord = 0;
};

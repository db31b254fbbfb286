#pragma once

#include "OstrovixComplex.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

// Independent references for the block tests: signals from std::polar, a
// direct DFT in long double, and a capture of Qt warnings.
namespace blocktest {

using C = Ostrovix::complex<double>;
using Signal = std::vector<C>;

constexpr long double kTwoPiL = 6.283185307179586476925286766559L;

inline std::complex<double> toStd(const C& c)
{
    return {c.re, c.im};
}

// a · exp(j(2π rel k + phase)), k = 0 .. n-1.
inline Signal tone(int n, double rel, double amplitude = 1.0, double phase = 0.0)
{
    Signal s(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const long double p = kTwoPiL * rel * k + phase;
        s[k] = {double(amplitude * std::cos(p)), double(amplitude * std::sin(p))};
    }
    return s;
}

inline Signal noise(int n, unsigned seed, double amplitude = 1.0)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    Signal s(static_cast<size_t>(n));
    for (auto& c : s)
        c = {dist(gen), dist(gen)};
    return s;
}

// Complex amplitude of the component at rel (cycles per sample) over n
// samples: (1/n) Σ x_k exp(-j2π rel k).
inline std::complex<double> dft(const C* x, int n, double rel)
{
    long double re = 0, im = 0;
    for (int k = 0; k < n; ++k) {
        const long double p = -kTwoPiL * rel * k;
        const long double c = std::cos(p), s = std::sin(p);
        re += x[k].re * c - x[k].im * s;
        im += x[k].re * s + x[k].im * c;
    }
    return {double(re / n), double(im / n)};
}

inline double toDb(double amplitude)
{
    return 20.0 * std::log10(amplitude);
}

inline bool sameBits(const Signal& a, const Signal& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(C)) == 0;
}

inline double maxDifference(const Signal& a, const Signal& b)
{
    double d = 0.0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        d = std::max(d, std::abs(toStd(a[i]) - toStd(b[i])));
    return a.size() == b.size() ? d : INFINITY;
}

// Collects Qt messages while alive.
class MessageCapture {
public:
    MessageCapture() : m_previous(qInstallMessageHandler(&MessageCapture::handler)) { messages().clear(); }
    ~MessageCapture() { qInstallMessageHandler(m_previous); }
    const QStringList& all() const { return messages(); }
    bool contains(const QString& text) const
    {
        for (const QString& m : messages())
            if (m.contains(text))
                return true;
        return false;
    }

private:
    static QStringList& messages()
    {
        static QStringList list;
        return list;
    }
    static void handler(QtMsgType, const QMessageLogContext&, const QString& text) { messages().append(text); }
    QtMessageHandler m_previous;
};

} // namespace blocktest

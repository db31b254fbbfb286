#include "zorvaniDsp/Filters/ZorvaniNB.h"

#include <algorithm>
#include <cmath>

void ZorvaniNB::setNb1(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nb1 = on;
}

void ZorvaniNB::setNb2(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nb2 = on;
}

void ZorvaniNB::setNb1Threshold(double threshold)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nb1Threshold = threshold;
}

void ZorvaniNB::setNb2Threshold(double threshold)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nb2Threshold = threshold;
}

bool ZorvaniNB::nb1() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nb1;
}

bool ZorvaniNB::nb2() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nb2;
}

double ZorvaniNB::nb1Threshold() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nb1Threshold;
}

double ZorvaniNB::nb2Threshold() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nb2Threshold;
}

double ZorvaniNB::averageMagnitude() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_average;
}

void ZorvaniNB::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_average = 1.0;
    m_smoothed = Sample{0.0, 0.0};
    m_history.fill(Sample{0.0, 0.0});
    m_write = 0;
    m_read = 2;
    m_blank = 0;
}

void ZorvaniNB::process(Ostrovix::complex<double>* x, int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!x || (!m_nb1 && !m_nb2))
        return;
    for (int done = 0; done < count; done += kChunk)
        processChunk(x + done, std::min(kChunk, count - done));
}

void ZorvaniNB::processChunk(Sample* x, int count)
{
    for (int k = 0; k < count; ++k)
        m_magnitude[k] = std::hypot(x[k].re, x[k].im);

    if (m_nb1) {
        for (int k = 0; k < count; ++k) {
            m_history[m_write] = x[k];
            m_average = 0.999 * m_average + 0.001 * m_magnitude[k];
            if (m_blank == 0) {
                if (m_magnitude[k] > m_average * m_nb1Threshold) {
                    m_blank = 6;
                    x[k] = Sample{0.0, 0.0};
                } else {
                    x[k] = m_history[m_read];
                }
            } else {
                x[k] = Sample{0.0, 0.0};
                --m_blank;
            }
            m_write = (m_write + 7) & 7;
            m_read = (m_read + 7) & 7;
        }
    }
    if (m_nb2) {
        for (int k = 0; k < count; ++k) {
            m_smoothed.re = 0.75 * m_smoothed.re + 0.25 * x[k].re;
            m_smoothed.im = 0.75 * m_smoothed.im + 0.25 * x[k].im;
            m_average = 0.999 * m_average + 0.001 * m_magnitude[k];
            if (m_magnitude[k] > m_average * m_nb2Threshold)
                x[k] = m_smoothed;
        }
    }
}

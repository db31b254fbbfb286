#include "spectrum/Spectrum32f.h"

#include <QDebug>

bool Spectrum32f::init(int size, bool, Window32f::Window)
{
    m_size = 0;
    const bool powerOfTwo = size >= 16 && (size & (size - 1)) == 0;
    if (!powerOfTwo || !m_fft.init(uint32_t(size))) {
        qWarning().nospace().noquote() << "bool __cdecl Spectrum32f::init(int,bool,Window32f::Window)"
                                       << "(" << size << "): "
                                       << (powerOfTwo ? "FFT plan could not be created" : "size must be a power of two >= 16");
        return false;
    }
    m_window.init(size);
    m_size = size;
    return true;
}

namespace {
const char* const kDfftSignature = "bool __cdecl Spectrum32f::dFft(class Ostrovix::complex<float> *,int)";
}

bool Spectrum32f::dFft(Ostrovix::complex<float>* data, int size)
{
    if (!data || size != m_size || m_size == 0) {
        qWarning().nospace().noquote() << kDfftSignature << " " << __LINE__ << " (" << static_cast<const void*>(data)
                                       << "," << size << "): Input parameters - error!";
        return false;
    }
    m_window.apply(data);
    return transform(data, size);
}

bool Spectrum32f::transform(Ostrovix::complex<float>* data, int size)
{
    return run(data, size, true);
}

bool Spectrum32f::transformUnscaled(Ostrovix::complex<float>* data, int size)
{
    return run(data, size, false);
}

bool Spectrum32f::run(Ostrovix::complex<float>* data, int size, bool scaled)
{
    if (!data || size != m_size || m_size == 0) {
        qWarning().nospace().noquote() << kDfftSignature << " " << __LINE__ << " (" << static_cast<const void*>(data)
                                       << "," << size << "): Input parameters - error!";
        return false;
    }
    if (!(scaled ? m_fft.forward(data) : m_fft.forwardUnscaled(data))) {
        qWarning().nospace().noquote() << kDfftSignature << " forward transform failed";
        return false;
    }
    return true;
}

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
    if (!checked(data, size))
        return false;
    m_window.apply(data);
    return transform(data, size);
}

bool Spectrum32f::transform(Ostrovix::complex<float>* data, int size)
{
    if (!checked(data, size))
        return false;
    if (!m_fft.forward(data)) {
        qWarning().nospace().noquote() << kDfftSignature << " forward transform failed";
        return false;
    }
    return true;
}

bool Spectrum32f::transformUnscaled(const Ostrovix::complex<float>* in, Ostrovix::complex<float>* out, int size)
{
    if (!checked(in, size) || !checked(out, size))
        return false;
    if (!m_fft.forwardUnscaled(in, out)) {
        qWarning().nospace().noquote() << kDfftSignature << " forward transform failed";
        return false;
    }
    return true;
}

bool Spectrum32f::checked(const Ostrovix::complex<float>* data, int size) const
{
    if (!data || size != m_size || m_size == 0) {
        qWarning().nospace().noquote() << kDfftSignature << " " << __LINE__ << " (" << static_cast<const void*>(data)
                                       << "," << size << "): Input parameters - error!";
        return false;
    }
    return true;
}

#pragma once

#include "OstrovixComplex.h"
#include "spectrum/Window32f.h"
#include "vector/Fft.h"

// Windowed forward FFT in single precision for the panorama: window, then a
// transform scaled by 1/size.
class Spectrum32f {
public:
    // size: a power of two, 16 or more. The window argument is accepted for the
    // callers' sake; the window is always Blackman-Nuttall. False (logged)
    // leaves the transform with size 0.
    bool init(int size, bool windowed = true, Window32f::Window window = Window32f::BlackmanNuttall);
    int size() const { return m_size; }

    // Transforms `size` points in place. False (logged) on a null pointer, a
    // size other than size(), or a failing transform; data is then unchanged.
    bool dFft(Ostrovix::complex<float>* data, int size);
    // The same without the window, for data already windowed (window().applyFrom).
    bool transform(Ostrovix::complex<float>* data, int size);
    // Also without the 1/size, for a caller that applies it later at less
    // cost (the panorama scales the power by 1/size² instead), and from `in`
    // into `out`, which spares the copy back of a transform in place.
    bool transformUnscaled(const Ostrovix::complex<float>* in, Ostrovix::complex<float>* out, int size);

    const Window32f& window() const { return m_window; }

private:
    bool checked(const Ostrovix::complex<float>* data, int size) const;

    int m_size = 0;
    Window32f m_window;
    ox::vec::ComplexFft<float> m_fft;
};

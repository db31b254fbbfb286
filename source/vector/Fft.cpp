#include "vector/Fft.h"

#include <fftw3.h>

#include <cstring>
#include <mutex>
#include <type_traits>

namespace ox::vec {

namespace {

std::mutex& plannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

template <typename T> struct Fftw;

template <> struct Fftw<double> {
    using Plan = fftw_plan;
    using Complex = fftw_complex;
    static Complex* alloc(size_t n) { return fftw_alloc_complex(n); }
    static void free(void* p) { fftw_free(p); }
    static Plan plan(int n, Complex* in, Complex* out, int sign)
    {
        return fftw_plan_dft_1d(n, in, out, sign, FFTW_ESTIMATE);
    }
    static void destroy(Plan p) { fftw_destroy_plan(p); }
    static void execute(Plan p, Complex* in, Complex* out) { fftw_execute_dft(p, in, out); }
    static int alignment(void* p) { return fftw_alignment_of(static_cast<double*>(p)); }
};

template <> struct Fftw<float> {
    using Plan = fftwf_plan;
    using Complex = fftwf_complex;
    static Complex* alloc(size_t n) { return fftwf_alloc_complex(n); }
    static void free(void* p) { fftwf_free(p); }
    static Plan plan(int n, Complex* in, Complex* out, int sign)
    {
        return fftwf_plan_dft_1d(n, in, out, sign, FFTW_ESTIMATE);
    }
    static void destroy(Plan p) { fftwf_destroy_plan(p); }
    static void execute(Plan p, Complex* in, Complex* out) { fftwf_execute_dft(p, in, out); }
    static int alignment(void* p) { return fftwf_alignment_of(static_cast<float*>(p)); }
};

} // namespace

template <typename T>
struct ComplexFft<T>::Plans {
    typename Fftw<T>::Plan forward = nullptr;
    typename Fftw<T>::Plan inverse = nullptr;
    // Aligned scratch, so callers' buffers need no particular alignment.
    typename Fftw<T>::Complex* buffer = nullptr;
};

template <typename T>
ComplexFft<T>::ComplexFft() = default;

template <typename T>
ComplexFft<T>::~ComplexFft()
{
    release();
}

template <typename T>
void ComplexFft<T>::release()
{
    if (!m_plans)
        return;
    std::lock_guard<std::mutex> guard(plannerMutex());
    if (m_plans->forward)
        Fftw<T>::destroy(m_plans->forward);
    if (m_plans->inverse)
        Fftw<T>::destroy(m_plans->inverse);
    Fftw<T>::free(m_plans->buffer);
    m_plans.reset();
    m_size = 0;
}

template <typename T>
bool ComplexFft<T>::init(uint32_t size)
{
    release();
    if (!isPowerOfTwo(size))
        return false;
    auto plans = std::make_unique<Plans>();
    std::lock_guard<std::mutex> guard(plannerMutex());
    plans->buffer = Fftw<T>::alloc(size);
    if (!plans->buffer)
        return false;
    plans->forward = Fftw<T>::plan(int(size), plans->buffer, plans->buffer, FFTW_FORWARD);
    plans->inverse = Fftw<T>::plan(int(size), plans->buffer, plans->buffer, FFTW_BACKWARD);
    if (!plans->forward || !plans->inverse) {
        if (plans->forward)
            Fftw<T>::destroy(plans->forward);
        if (plans->inverse)
            Fftw<T>::destroy(plans->inverse);
        Fftw<T>::free(plans->buffer);
        return false;
    }
    m_plans = std::move(plans);
    m_size = size;
    return true;
}

template <typename T>
bool ComplexFft<T>::execute(bool forward, Ostrovix::complex<T>* data)
{
    if (!m_plans || !data)
        return false;
    const auto plan = forward ? m_plans->forward : m_plans->inverse;
    auto* samples = reinterpret_cast<typename Fftw<T>::Complex*>(data);
    // The plans are in place, so a new array must be in place too, and
    // aligned as the planning buffer was.
    if (Fftw<T>::alignment(samples) == Fftw<T>::alignment(m_plans->buffer)) {
        Fftw<T>::execute(plan, samples, samples);
        return true;
    }
    const size_t bytes = size_t(m_size) * sizeof(Ostrovix::complex<T>);
    std::memcpy(m_plans->buffer, data, bytes);
    Fftw<T>::execute(plan, m_plans->buffer, m_plans->buffer);
    std::memcpy(data, m_plans->buffer, bytes);
    return true;
}

template <typename T>
bool ComplexFft<T>::forward(Ostrovix::complex<T>* data)
{
    if (!execute(true, data))
        return false;
    const T scale = T(1) / T(m_size);
    T* x = reinterpret_cast<T*>(data);
    for (size_t i = 0; i < 2 * size_t(m_size); ++i)
        x[i] *= scale;
    return true;
}

template <typename T>
bool ComplexFft<T>::forwardUnscaled(Ostrovix::complex<T>* data)
{
    return execute(true, data);
}

template <typename T>
bool ComplexFft<T>::inverse(Ostrovix::complex<T>* data)
{
    return execute(false, data);
}

template class ComplexFft<double>;
template class ComplexFft<float>;

} // namespace ox::vec

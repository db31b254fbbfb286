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

// The plans are out of place: FFTW's in-place plans of some sizes (2048 and
// 4096 points among them) allocate a buffer on every execution.
template <typename T>
struct ComplexFft<T>::Plans {
    typename Fftw<T>::Plan forward = nullptr;
    typename Fftw<T>::Plan inverse = nullptr;
    // Aligned scratch the plans were made on, for callers' buffers that do not
    // have its alignment and for transforms in place.
    typename Fftw<T>::Complex* in = nullptr;
    typename Fftw<T>::Complex* out = nullptr;
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
    Fftw<T>::free(m_plans->in);
    Fftw<T>::free(m_plans->out);
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
    plans->in = Fftw<T>::alloc(size);
    plans->out = Fftw<T>::alloc(size);
    if (plans->in && plans->out) {
        plans->forward = Fftw<T>::plan(int(size), plans->in, plans->out, FFTW_FORWARD);
        plans->inverse = Fftw<T>::plan(int(size), plans->in, plans->out, FFTW_BACKWARD);
    }
    if (!plans->forward || !plans->inverse) {
        if (plans->forward)
            Fftw<T>::destroy(plans->forward);
        if (plans->inverse)
            Fftw<T>::destroy(plans->inverse);
        Fftw<T>::free(plans->in);
        Fftw<T>::free(plans->out);
        return false;
    }
    m_plans = std::move(plans);
    m_size = size;
    return true;
}

template <typename T>
bool ComplexFft<T>::execute(bool forward, const Ostrovix::complex<T>* src, Ostrovix::complex<T>* dst)
{
    if (!m_plans || !src || !dst)
        return false;
    using Complex = typename Fftw<T>::Complex;
    const auto plan = forward ? m_plans->forward : m_plans->inverse;
    const size_t bytes = size_t(m_size) * sizeof(Ostrovix::complex<T>);
    // A new array must have the alignment of the one the plan was made on.
    const int alignment = Fftw<T>::alignment(m_plans->in);
    // The input is left as it is (out-of-place complex plans preserve it).
    auto* in = reinterpret_cast<Complex*>(const_cast<Ostrovix::complex<T>*>(src));
    if (Fftw<T>::alignment(in) != alignment) {
        std::memcpy(m_plans->in, src, bytes);
        in = m_plans->in;
    }
    auto* out = reinterpret_cast<Complex*>(dst);
    if (out != in && Fftw<T>::alignment(out) == alignment) {
        Fftw<T>::execute(plan, in, out);
        return true;
    }
    Fftw<T>::execute(plan, in, m_plans->out);
    std::memcpy(dst, m_plans->out, bytes);
    return true;
}

template <typename T>
bool ComplexFft<T>::forward(Ostrovix::complex<T>* data)
{
    if (!execute(true, data, data))
        return false;
    const T scale = T(1) / T(m_size);
    T* x = reinterpret_cast<T*>(data);
    for (size_t i = 0; i < 2 * size_t(m_size); ++i)
        x[i] *= scale;
    return true;
}

template <typename T>
bool ComplexFft<T>::forwardUnscaled(const Ostrovix::complex<T>* in, Ostrovix::complex<T>* out)
{
    return execute(true, in, out);
}

template <typename T>
bool ComplexFft<T>::inverse(Ostrovix::complex<T>* data)
{
    return execute(false, data, data);
}

template <typename T>
bool ComplexFft<T>::inverse(const Ostrovix::complex<T>* in, Ostrovix::complex<T>* out)
{
    return execute(false, in, out);
}

template class ComplexFft<double>;
template class ComplexFft<float>;

} // namespace ox::vec

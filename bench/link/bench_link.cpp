// Cost of one IQ packet on the socket thread (receive, sequence, scale,
// engine entry, answer) as a percentage of the packet interval at 312500 Hz
// (640 us), next to:
// - the in-memory part alone (no socket calls);
// - the in-memory part when 5 % of the packets arrive 60 packets late (a
//   receiver's re-send): the packets behind each gap are held, then processed;
// - a plain Qt reference that receives a QNetworkDatagram, converts into a
//   freshly allocated vector and answers with a new datagram.
// Sockets are a connected loopback pair; nothing leaves 127.0.0.0/8.
#include "ZorvaniControl/ZorvaniDriver/IqStream.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

constexpr double kIntervalSeconds = 200.0 / 312500.0; // 640 us

QByteArray packet(quint16 sequence)
{
    QByteArray p(1210, '\0');
    qToLittleEndian<quint16>(0xFFFE, p.data() + 2);
    qToLittleEndian<quint16>(1200, p.data() + 4);
    qToLittleEndian<quint16>(sequence, p.data() + 6);
    for (int i = 10; i < 1210; ++i)
        p[i] = char(i * 7);
    return p;
}

// Stand-in for the engine's entry: hands the input back as audio.
bool echo(IqStream::Sample* in, IqStream::Sample* audio, quint32)
{
    for (int i = 0; i < IqStream::kSamples; ++i)
        audio[i] = IqStream::Sample{in[i].re * 0.5, in[i].im * 0.5};
    return true;
}

void percentOfInterval(benchmark::State& state)
{
    state.counters["pct_of_640us"] = benchmark::Counter(double(state.iterations()) * kIntervalSeconds / 100.0,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

struct LoopbackPair {
    QUdpSocket device;
    QUdpSocket receiver;
    bool ok = false;
    explicit LoopbackPair(quint16 port)
    {
        ok = device.bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        device.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), port);
        ok = ok && device.waitForConnected(1000);
        ok = ok && receiver.bind(QHostAddress(QStringLiteral("127.0.0.2")), port,
                                 QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    }
};

void BM_IqPacketThroughSocket(benchmark::State& state)
{
    LoopbackPair link(51901);
    if (!link.ok) {
        state.SkipWithError("loopback sockets unavailable");
        return;
    }
    IqStream stream(echo, nullptr);
    stream.setAnswerSink([&link](const char* answer, qint64 size) { link.device.write(answer, size); });
    std::vector<char> buffer(65536);
    char answer[1210];
    QByteArray p = packet(0);
    const QHostAddress device(QStringLiteral("127.0.0.1"));
    quint16 sequence = 0;
    for (auto _ : state) {
        state.PauseTiming();
        qToLittleEndian<quint16>(sequence++, p.data() + 6);
        link.receiver.writeDatagram(p, device, 51901);
        link.device.waitForReadyRead(1000);
        state.ResumeTiming();
        const qint64 n = link.device.readDatagram(buffer.data(), qint64(buffer.size()));
        stream.handle(buffer.data(), n);
        state.PauseTiming();
        link.receiver.waitForReadyRead(1000);
        link.receiver.readDatagram(answer, sizeof answer);
        state.ResumeTiming();
    }
    percentOfInterval(state);
}
BENCHMARK(BM_IqPacketThroughSocket)->UseRealTime();

void BM_IqPacketInMemory(benchmark::State& state)
{
    IqStream stream(echo, nullptr);
    stream.setAnswerSink([](const char* answer, qint64) { benchmark::DoNotOptimize(answer); });
    QByteArray p = packet(0);
    quint16 sequence = 0;
    for (auto _ : state) {
        qToLittleEndian<quint16>(sequence++, p.data() + 6);
        benchmark::DoNotOptimize(stream.handle(p.constData(), p.size()));
    }
    percentOfInterval(state);
}
BENCHMARK(BM_IqPacketInMemory);

void BM_IqPacketsWithGaps(benchmark::State& state)
{
    IqStream stream(echo, nullptr);
    stream.setAnswerSink([](const char* answer, qint64) { benchmark::DoNotOptimize(answer); });
    // Arrival order of 2000 packets: every 20th comes 60 packets late.
    constexpr int kRound = 2000;
    std::vector<quint16> order;
    for (int s = 0; s < kRound; ++s)
        if (s % 20 != 7)
            order.push_back(quint16(s));
    for (int s = 7; s < kRound; s += 20)
        order.insert(std::find(order.begin(), order.end(), quint16(std::min(s + 60, kRound - 1))), quint16(s));
    QByteArray p = packet(0);
    quint16 base = 0;
    size_t i = 0;
    for (auto _ : state) {
        qToLittleEndian<quint16>(quint16(base + order[i]), p.data() + 6);
        benchmark::DoNotOptimize(stream.handle(p.constData(), p.size()));
        if (++i == order.size()) {
            i = 0;
            base = quint16(base + kRound);
        }
    }
    percentOfInterval(state);
}
BENCHMARK(BM_IqPacketsWithGaps);

// What a straightforward Qt version costs: datagram objects, a new vector per
// packet and a new answer datagram.
void BM_PlainQtReference(benchmark::State& state)
{
    LoopbackPair link(51902);
    if (!link.ok) {
        state.SkipWithError("loopback sockets unavailable");
        return;
    }
    QByteArray p = packet(0);
    const QHostAddress device(QStringLiteral("127.0.0.1"));
    char answer[1210];
    for (auto _ : state) {
        state.PauseTiming();
        link.receiver.writeDatagram(p, device, 51902);
        link.device.waitForReadyRead(1000);
        state.ResumeTiming();
        const QNetworkDatagram in = link.device.receiveDatagram();
        const QByteArray data = in.data();
        std::vector<IqStream::Sample> samples(IqStream::kSamples);
        std::vector<IqStream::Sample> audio(IqStream::kSamples);
        for (int i = 0; i < IqStream::kSamples; ++i) {
            const char* s = data.constData() + 10 + 6 * i;
            const auto v = [](const char* b) {
                return double(qint32(quint32(quint8(b[0])) << 8 | quint32(quint8(b[1])) << 16 |
                                     quint32(quint8(b[2])) << 24)) / 2147483648.0;
            };
            samples[size_t(i)] = IqStream::Sample{v(s), v(s + 3)};
        }
        echo(samples.data(), audio.data(), 0);
        QByteArray out = data;
        for (int i = 0; i < IqStream::kSamples; ++i) {
            const auto put = [&](int at, double x) {
                const auto w = quint32(qint32(x * 2147483647.0));
                out[at] = char(w >> 8);
                out[at + 1] = char(w >> 16);
                out[at + 2] = char(w >> 24);
            };
            put(10 + 6 * i, audio[size_t(i)].re);
            put(13 + 6 * i, audio[size_t(i)].im);
        }
        link.device.writeDatagram(in.makeReply(out));
        state.PauseTiming();
        link.receiver.waitForReadyRead(1000);
        link.receiver.readDatagram(answer, sizeof answer);
        state.ResumeTiming();
    }
    percentOfInterval(state);
}
BENCHMARK(BM_PlainQtReference)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

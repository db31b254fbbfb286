#pragma once

#include "Scene.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

// A software ZorvaniDDC receiver for tests and for running the plug-in
// without hardware. It runs on its own thread (its own event loop), so it
// keeps answering while the caller's thread is blocked in a waiting command.
//
// Loopback recipe (no packet leaves 127.0.0.0/8):
//   - the emulator binds Config::address (default 127.0.0.2) : Config::port
//     with ShareAddress | ReuseAddressHint;
//   - the plug-in binds any address on the same port (also with address reuse)
//     and is configured with the receiver address 127.0.0.2;
//   - the plug-in's packets reach the emulator from 127.0.0.1:port, and the
//     emulator answers to the source of each datagram.
//   Several emulators can run at once on distinct loopback addresses
//   (127.0.0.2, 127.0.0.3, ...) or distinct ports. Test programs may run in
//   parallel: give each its own port (e.g. derived from the process id), or two
//   programs on 127.0.0.2:50001 will answer each other's plug-ins.
//
// Discovery recipe (broadcasts exist only inside a private network namespace,
// e.g. tests/netns-run: veth zs0 10.77.0.1/24 <-> zs1 10.77.0.2/24; register the
// test with NETNS and QSKIP unless ZORVANI_NETNS is "1"):
//   - call Simulator::prepareNamespace({10.77.0.2, 10.77.0.3, ...}) once: it
//     moves zs1 into a network namespace of its own (the receivers' side of the
//     wire) and gives it those addresses; the test process keeps zs0 10.77.0.1;
//   - give each emulator Config::receiverNamespace = true and one of those
//     addresses (same port or not, distinct serials). Its thread enters the
//     receivers' namespace and binds address:port for the link and 0.0.0.0:port
//     for broadcasts;
//   - the plug-in's searcher in the test process binds any:port as usual (with
//     or without address reuse: nothing else holds the port on its side),
//     broadcasts to 10.77.0.255 or 255.255.255.255, and gets one reply per
//     emulator announcing its address and port; the link to that address then
//     works exactly as on loopback, from 10.77.0.1.
namespace zorvani::sim {

struct Config {
    QHostAddress address = QHostAddress(QStringLiteral("127.0.0.2")); // control bind and announced address
    quint16 port = 50001;
    bool receiverNamespace = false; // run in the namespace made by prepareNamespace() and answer broadcasts
    quint32 serialDecimal = 1;   // serial "OXD01" + hex(hi*256+lo) + decimal, e.g. OXD01000100001
    quint8 serialHi = 0x00;
    quint8 serialLo = 0x01;
    quint16 versionMajor = 11;   // information record, application firmware version
    quint16 versionMinor = 3;
    quint16 flashedVersionMajor = 11; // version reported after a successful firmware update
    quint16 flashedVersionMinor = 3;
    quint32 pcbRevision = 3;
    quint32 statusBits = 0x1 | 0x2 | 0x4 | 0x10 | 0x40 | 0x80 | 0x100 | 0x800; // PLL locked, internal ref
    bool startInBootloader = false;
    bool paced = true;           // real-time IQ; false: next packet as soon as the previous is answered
    int fastWindow = 1;          // unanswered packets in flight when not paced (1..8)
    int resendAfterMs = 40;      // a packet without answer is sent again after this time (the host
                                 // keeps its last 8 answers: later re-sends are dropped there)
    int maxResends = 2;          // ... at most this many times
    int resetSilenceMs = 1000;   // silent time after command 40 (reset)
    int bootSwitchMs = 200;      // silent time when entering or leaving the bootloader
    int bandScopeFps = 5;        // band-scope frames per second while enabled
    Scene scene = Scene::defaultScene();
    QString calibrationFile;     // non-empty: calibration blocks persist in this file
    bool logCommands = true;     // keep every received non-IQ datagram in the command log
    quint64 initialFreq = 71000000; // tuned frequency of both receivers before setFreq, 0.1 Hz units
};

// One received datagram that was not an IQ answer.
struct LoggedCommand {
    qint64 timeUs = 0;     // since start()
    quint16 magic = 0;     // 0xFF12 application, 0xFF11 bootloader (0 when shorter than 4 bytes)
    quint16 command = 0;   // code; 0x1A00 for a discovery request
    bool malformed = false;
    QByteArray bytes;      // the exact datagram
};

struct BandScopeState {
    bool enable = false;
    quint8 decimation = 0;
    quint64 centre = 0;    // 0.1 Hz units
};

// The receiver's state as the commands left it.
struct State {
    bool bootloader = false;
    bool streaming = false;
    bool silent = false;           // resetting or switching between application and bootloader
    int rateIndex = 0;
    int receivers = 1;
    quint64 freq[2] = {0, 0};      // 0.1 Hz units
    bool preamp = false;
    bool lpf = false;
    bool pll = false;
    quint32 extCtrl = 0;
    quint32 frontEnd = 0;
    BandScopeState bandScope;
    quint32 networkMode = 0;
    QHostAddress staticAddress;
    quint16 staticPort = 0;
    QByteArray rootCalibration;    // 76 bytes as stored (0xFF when erased)
    QByteArray userCalibration;
    quint16 versionMajor = 0;
    quint16 versionMinor = 0;
    int resets = 0;
    int firmwareUpdates = 0;       // successful quits from the bootloader with a valid image
};

struct Counters {
    quint64 iqSent = 0;            // new IQ packets put on the wire (re-sends not included)
    quint64 iqResent = 0;
    quint64 iqAnswered = 0;        // packets answered at least once
    quint64 iqAnswersFull = 0;     // answers with 200 audio frames
    quint64 iqAnswersShort = 0;    // acknowledge-only answers
    quint64 iqAnswersRepeated = 0; // further answers to an already answered packet
    quint64 iqAnswersUnknown = 0;  // answers to no packet in the recent window
    quint64 iqAnswersOutOfOrder = 0; // first answers to a packet older than one answered before
    quint64 iqLost = 0;            // transmissions dropped by the loss fault
    quint64 iqDuplicated = 0;
    quint64 iqReordered = 0;
    quint64 malformed = 0;         // datagrams ignored as malformed or unknown
    quint64 discoveryReplies = 0;
    quint64 bandScopeFrames = 0;
    quint64 repliesDropped = 0;    // by the lost-reply fault
    quint64 forged = 0;            // hostile datagrams sent by forge()
};

// Switchable faults. Probabilities are 0..1 per transmission, drawn from a
// generator seeded with the scene's seed.
struct Faults {
    double iqLoss = 0.0;
    double iqDuplicate = 0.0;
    double iqReorder = 0.0;
    bool iqStall = false;              // no IQ packets at all (the plug-in's watchdog fires)
    quint32 startStatus = 1;           // status of the start reply; 2 asks for a firmware update
    QMap<quint32, int> dropReplies;    // commandKey -> replies still to drop (-1: all)
    QMap<quint32, int> replyDelayMs;   // commandKey -> delay of every reply
    QMap<quint32, int> failCommands;   // commandKey -> commands still to refuse (-1: all): answered
                                       // with the failure status (0, bootloader 1) and without effect
};

inline quint32 commandKey(quint16 code, quint16 magic = 0xFF12)
{
    return quint32(magic) << 16 | code;
}

class SimulatorEngine;
class IqPlayback;

class Simulator {
public:
    explicit Simulator(const Config& config = Config());
    ~Simulator(); // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds the sockets on the emulator's thread; false (with a qWarning) when binding failed.
    bool start();
    void stop();
    bool isRunning() const;
    const Config& config() const { return m_config; }

    // Makes the receivers' namespace for discovery tests (see the recipe above):
    // moves `device` there and gives it `addresses` (/24). Later calls add
    // addresses. Refuses (false) unless ZORVANI_NETNS is "1".
    static bool prepareNamespace(const QList<QHostAddress>& addresses = {QHostAddress(QStringLiteral("10.77.0.2"))},
                                 const QString& device = QStringLiteral("zs1"));

    // Serial text as discovery reports it.
    QString serialText() const;

    State state() const;
    Counters counters() const;

    QVector<LoggedCommand> commandLog() const;
    // Received commands of one code (and magic), oldest first.
    QVector<LoggedCommand> commands(quint16 code, quint16 magic = 0xFF12) const;
    void clearCommandLog();

    // Bounded waits on conditions (no sleeps): true as soon as the condition holds.
    bool waitForCommand(quint16 code, int timeoutMs, int count = 1, quint16 magic = 0xFF12);
    bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

    // Audio decoded from full IQ answers: interleaved left, right, 24-bit values.
    QVector<qint32> capture() const;
    qint64 captureFrames() const;
    void clearCapture();
    // 24-bit stereo PCM WAV of the capture; the stream carries 39062.5 frames/s.
    bool writeCaptureWav(const QString& path, quint32 sampleRate = 39063) const;

    // Maintenance results.
    QByteArray fpgaImage() const;    // assembled from the chunks, offset 0 starts a new image
    QByteArray fpgaDigest() const;   // SHA-256 of fpgaImage()
    QByteArray flashImage() const;   // 458752 deciphered bytes (0xFF erased)
    QByteArray dataFlashPage(int page) const; // 1056 bytes (0xFF erased)

    Faults faults() const;
    void setFaults(const Faults& faults);
    void setIqStall(bool stall);
    // Unpaced streams: no IQ packet beyond `packets` sent in all (counters().iqSent);
    // raising it lets the stream go on. A test that grants packets only as it
    // takes the audio they make runs the stream as fast as the machine allows
    // with nothing in flight beyond its grant, however slow the machine is.
    void setPacketLimit(quint64 packets);
    void setStartStatus(quint32 status);
    void dropReplies(quint16 code, int count, quint16 magic = 0xFF12);   // count -1: all
    void delayReplies(quint16 code, int delayMs, quint16 magic = 0xFF12);
    // The next `count` commands of this code (-1: all) fail: an erase that
    // erases nothing, a flash write that writes nothing, a switch to the
    // bootloader that does not happen, a calibration block not stored.
    void failCommands(quint16 code, int count, quint16 magic = 0xFF12);
    void setFirmwareVersion(quint16 major, quint16 minor);
    // Replaces the stored calibration blocks (76 bytes each, see
    // calibrationBlock() in CalibrationMemory.h; other sizes leave a block
    // as it is). Call it after start(), which loads the blocks afresh.
    void setCalibration(const QByteArray& root, const QByteArray& user);
    // Changes the level (dBFS; Noise: dBFS/Hz) of emitter `index` of the scene
    // for both receivers and the band scope, from the next IQ block on.
    void setEmitterLevel(int index, double levelDbfs);

    // IQ playback: a recording of the plug-in (any of its three layouts)
    // streams instead of the scene until stopPlayback(); the handle sets
    // pause, loop and seek (see IqPlayback.h). Null with *error set when the
    // file cannot be played. fallbackCentreHz is the centre of a recording
    // whose file carries none.
    std::shared_ptr<IqPlayback> play(const QString& path, QString* error, double fallbackCentreHz = 0.0);
    void stopPlayback();
    std::shared_ptr<IqPlayback> playback() const;

    // Bad datagrams sent to the peer that sent the last command.
    enum class Junk {
        ShortIq,        // IQ mark, 100 bytes
        ShortReply,     // 6 bytes
        ShortFragment,  // band-scope mark, 40 bytes
        Foreign,        // a well-formed information reply from 127.0.0.3 (loopback set-ups only)
        Random,         // 1 to 1500 random bytes
    };
    bool sendJunk(Junk kind);
    // Sends `count` hostile datagrams of every kind (Forgery.h) to the peer
    // that sent the last command, from the receiver's own address: random,
    // truncated, oversized and bit-flipped ones made from the stream's latest
    // IQ packet, band-scope fragments and the genuine reply to that last
    // command, and malformed forgeries of that reply. Deterministic for a
    // scene seed. Returns how many went out (0 before any command).
    int forge(int count);

    struct Data; // shared with the engine thread

private:
    Config m_config;
    std::shared_ptr<Data> m_data;
    class Thread;
    std::unique_ptr<Thread> m_thread;
};

} // namespace zorvani::sim

#include "Scene.h"

#include <QRegularExpression>
#include <QStringList>

namespace zorvani::sim {

namespace {

bool kindFromName(const QString& name, Emitter::Kind* kind)
{
    static const struct {
        const char* name;
        Emitter::Kind kind;
    } names[] = {
        {"carrier", Emitter::Carrier}, {"am", Emitter::Am},   {"usb", Emitter::Usb},
        {"lsb", Emitter::Lsb},         {"cw", Emitter::Cw},   {"nfm", Emitter::Nfm},
        {"wfm", Emitter::Wfm},         {"impulse", Emitter::Impulse}, {"noise", Emitter::Noise},
    };
    for (const auto& n : names) {
        if (name == QLatin1String(n.name)) {
            *kind = n.kind;
            return true;
        }
    }
    return false;
}

bool parseOption(const QString& item, Emitter* e, QString* error)
{
    const int eq = item.indexOf(QLatin1Char('='));
    bool ok = false;
    const double v = eq > 0 ? item.mid(eq + 1).toDouble(&ok) : 0.0;
    if (!ok) {
        *error = QStringLiteral("bad option \"%1\"").arg(item);
        return false;
    }
    const QString key = item.left(eq);
    if (key == QLatin1String("tone") || key == QLatin1String("left"))
        e->toneHz = v;
    else if (key == QLatin1String("tone2") || key == QLatin1String("right"))
        e->tone2Hz = v;
    else if (key == QLatin1String("depth") && v >= 0.0 && v <= 1.0)
        e->depth = v;
    else if (key == QLatin1String("dev") && v >= 0.0)
        e->deviationHz = v;
    else if (key == QLatin1String("ctcss") && v >= 0.0)
        e->ctcssHz = v;
    else if (key == QLatin1String("wpm") && v > 0.0)
        e->wpm = v;
    else if (key == QLatin1String("rate") && v > 0.0)
        e->rateHz = v;
    else if (key == QLatin1String("tau") && v >= 0.0 && v <= 1000.0)
        e->tauUs = v;
    else if (key == QLatin1String("pilot") && v >= 0.0 && v <= 0.5)
        e->pilot = v;
    else if (key == QLatin1String("rds") && v >= 0.0 && v <= 0.5)
        e->data = v;
    else if (key == QLatin1String("audio") && v >= 0.0)
        e->audio = v;
    else {
        *error = QStringLiteral("unknown or out-of-range option \"%1\"").arg(item);
        return false;
    }
    return true;
}

} // namespace

bool Scene::parse(const QString& text, Scene* out, QString* error)
{
    Scene scene;
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("[\\n;]")));
    int lineNo = 0;
    for (QString line : lines) {
        ++lineNo;
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.isEmpty())
            continue;
        QString why;
        if (f[0] == QLatin1String("seed")) {
            bool ok = false;
            scene.seed = f.size() == 2 ? f[1].toULongLong(&ok) : 0;
            if (!ok)
                why = QStringLiteral("seed needs one integer");
        } else {
            Emitter e;
            bool ok = kindFromName(f[0].toLower(), &e.kind);
            if (!ok) {
                why = QStringLiteral("unknown emitter \"%1\"").arg(f[0]);
            } else if (e.kind == Emitter::Noise || e.kind == Emitter::Impulse) {
                // noise LEVEL | impulse LEVEL [rate=..]
                e.levelDbfs = f.size() >= 2 ? f[1].toDouble(&ok) : 0.0;
                if (!ok)
                    why = QStringLiteral("%1 needs a level").arg(f[0]);
                for (int i = 2; ok && i < f.size(); ++i)
                    ok = parseOption(f[i], &e, &why);
            } else {
                bool okLevel = false;
                e.freqHz = f.size() >= 3 ? f[1].toDouble(&ok) : 0.0;
                e.levelDbfs = f.size() >= 3 ? f[2].toDouble(&okLevel) : 0.0;
                ok = ok && okLevel && e.freqHz >= 0.0;
                if (!ok)
                    why = QStringLiteral("%1 needs a frequency in Hz and a level in dBFS").arg(f[0]);
                for (int i = 3; ok && i < f.size(); ++i)
                    ok = parseOption(f[i], &e, &why);
            }
            if (ok && e.levelDbfs > 0.0 && e.kind != Emitter::Noise) {
                why = QStringLiteral("level above full scale");
                ok = false;
            }
            if (ok)
                scene.emitters.append(e);
        }
        if (!why.isEmpty()) {
            if (error)
                *error = QStringLiteral("scene line %1: %2").arg(lineNo).arg(why);
            return false;
        }
    }
    *out = scene;
    return true;
}

Scene Scene::defaultScene()
{
    Scene s;
    const char* text =
        "seed 1\n"
        "noise -140\n"
        "carrier 7100000 -60\n"
        "am 7120000 -50 tone=1000 depth=0.8\n"
        "usb 7080000 -55 tone=700 tone2=1900\n"
        "lsb 7060000 -55 tone=1000\n"
        "cw 7030000 -60 wpm=20\n"
        "nfm 7140000 -50 tone=1000 dev=2500 ctcss=88.5\n";
    parse(QString::fromLatin1(text), &s, nullptr);
    return s;
}

QString Scene::helpText()
{
    return QStringLiteral(
        "Scene format: one emitter per line (or separated by ';'), '#' starts a comment.\n"
        "  seed N                          seed of every random part (default 1)\n"
        "  noise LEVEL                     white noise floor, LEVEL in dBFS/Hz\n"
        "  impulse LEVEL [rate=R]          impulses of LEVEL dBFS, R per second on average\n"
        "  carrier FREQ LEVEL              unmodulated carrier\n"
        "  am FREQ LEVEL [tone=F] [depth=M]   AM with a tone (default 1000 Hz, depth 0.8)\n"
        "  usb|lsb FREQ LEVEL [tone=F] [tone2=F2]  SSB tone(s) above/below FREQ, each at LEVEL\n"
        "  cw FREQ LEVEL [wpm=W]           keyed carrier sending dots\n"
        "  nfm FREQ LEVEL [tone=F] [dev=D] [ctcss=C]  FM, tone deviation D Hz (default 2500),\n"
        "                                  optional sub-audible tone C Hz at 300 Hz deviation\n"
        "  wfm FREQ LEVEL [left=F] [right=F2] [tau=T] [pilot=P] [rds=D] [audio=A]\n"
        "                                  broadcast FM stereo: 75 kHz deviation, 19 kHz pilot at P of\n"
        "                                  it (default 0.09; 0: mono), 38 kHz difference subcarrier\n"
        "                                  locked to it, pre-emphasis T us (50; 75; 0: none), a data-like\n"
        "                                  57 kHz subcarrier at D (default 0), tones of amplitude A\n"
        "                                  (default: the loudest that fits after pre-emphasis);\n"
        "                                  a zero tone is silence\n"
        "FREQ in Hz (absolute), LEVEL in dBFS (0 = full scale amplitude). An emitter shows up in a\n"
        "receiver only when it lies within +-rate/2 of the receiver's tuned frequency.\n"
        "Example: --scene 'noise -135; am 7120000 -40 tone=800; wfm 7300000 -30 left=1000 right=0'\n");
}

} // namespace zorvani::sim

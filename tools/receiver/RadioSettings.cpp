#include "RadioSettings.h"

#include "RadioController.h"

#include <QSettings>

void readRadioState(QSettings& s, RadioState* state)
{
    state->mode = s.value(QStringLiteral("mode"), state->mode).toInt();
    state->filter = s.value(QStringLiteral("filter"), state->filter).toInt();
    state->low = s.value(QStringLiteral("filterLow"), state->low).toDouble();
    state->high = s.value(QStringLiteral("filterHigh"), state->high).toDouble();
    state->agc = s.value(QStringLiteral("agc"), state->agc).toInt();
    state->nr = s.value(QStringLiteral("nr"), state->nr).toBool();
    state->anf = s.value(QStringLiteral("anf"), state->anf).toBool();
    state->nb1 = s.value(QStringLiteral("nb1"), state->nb1).toBool();
    state->nb2 = s.value(QStringLiteral("nb2"), state->nb2).toBool();
    state->squelch = s.value(QStringLiteral("squelch"), state->squelch).toBool();
    state->squelchDb = s.value(QStringLiteral("squelchLevel"), state->squelchDb).toInt();
    state->ctcss = s.value(QStringLiteral("ctcss"), state->ctcss).toBool();
    state->ctcssTone = s.value(QStringLiteral("ctcssTone"), state->ctcssTone).toInt();
    state->sub = s.value(QStringLiteral("sub"), state->sub).toBool();
    state->subOffset = s.value(QStringLiteral("subOffset"), state->subOffset).toDouble();
    const double centre = s.value(QStringLiteral("centre"), state->tuning.centre()).toDouble();
    const double frequency = s.value(QStringLiteral("frequency"), centre).toDouble();
    state->tuning.setCentre(centre);
    state->tuning.tuneTo(frequency);
}

void writeRadioState(QSettings& s, const RadioState& state)
{
    s.setValue(QStringLiteral("centre"), state.tuning.centre());
    s.setValue(QStringLiteral("frequency"), state.tuning.frequency());
    s.setValue(QStringLiteral("mode"), state.mode);
    s.setValue(QStringLiteral("filter"), state.filter);
    s.setValue(QStringLiteral("filterLow"), state.low);
    s.setValue(QStringLiteral("filterHigh"), state.high);
    s.setValue(QStringLiteral("agc"), state.agc);
    s.setValue(QStringLiteral("nr"), state.nr);
    s.setValue(QStringLiteral("anf"), state.anf);
    s.setValue(QStringLiteral("nb1"), state.nb1);
    s.setValue(QStringLiteral("nb2"), state.nb2);
    s.setValue(QStringLiteral("squelch"), state.squelch);
    s.setValue(QStringLiteral("squelchLevel"), state.squelchDb);
    s.setValue(QStringLiteral("ctcss"), state.ctcss);
    s.setValue(QStringLiteral("ctcssTone"), state.ctcssTone);
    s.setValue(QStringLiteral("sub"), state.sub);
    s.setValue(QStringLiteral("subOffset"), state.subOffset);
}

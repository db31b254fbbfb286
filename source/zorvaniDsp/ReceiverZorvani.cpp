#include "zorvaniDsp/ReceiverZorvani.h"

ReceiverZorvani::ReceiverZorvani(quint32 number, QObject* parent) : QObject(parent), m_number(number) {}

void ReceiverZorvani::vacClose() {}
void ReceiverZorvani::lineoutOpen() {}
void ReceiverZorvani::lineoutClose() {}

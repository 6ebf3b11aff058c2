#include "util/event_pump.h"

EventPump& noEventPump() {
    static EventPump none;
    return none;
}

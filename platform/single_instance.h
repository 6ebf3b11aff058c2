#pragma once
// One running copy of the program per user session. The first start holds a
// named guard for its whole life; a later start finds the guard taken, brings
// the running copy's window to the front and ends.
//
// Windows finds the running window by its exact title. Where the OS offers no
// such lookup, the running copy listens at an address of the guard's name and
// raises its window itself when a later start connects; the application
// supplies that listener, since it owns the window and the event loop.

#include <functional>
#include <string>

namespace platform {

// Takes the guard `name`. True when no other process held it: this process
// then holds it until it ends or calls releaseSingleInstance. A guard that
// cannot be created for another reason counts as taken by this process.
bool claimSingleInstance(const char* name);

// Gives the guard up early (before handing over to another copy of the program).
void releaseSingleInstance();

// Brings the window of the process holding guard `name` to the front: restores
// it if minimised, then raises it. `title` is that window's exact title. Does
// nothing when no such window is found.
void raiseRunningInstance(const char* name, const std::u16string& title);

// Starts listening for the raise requests of later starts, where the OS needs
// it (see above): `listen` is called with the address to listen at and answers
// whether it listens. Each connection to that address is one raise request.
using RaiseListener = std::function<bool(const std::string& address)>;
void acceptRaiseRequests(const char* name, const RaiseListener& listen);

}  // namespace platform

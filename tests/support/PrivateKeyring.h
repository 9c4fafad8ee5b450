#pragma once

// A Secret Service of the tests' own: gnome-keyring-daemon on a private D-Bus session bus
// (dbus-run-session), its login keyring made and unlocked with an empty password in a private
// HOME. Nothing of the user's session is touched. One per test process (GLib keeps one session
// bus connection per process): the first call starts it, and it stops when the application
// object goes. Tests that talk to it in process set DBUS_SESSION_BUS_ADDRESS to it first.

#include <QString>

// The bus address ("unix:path=..."); empty after an ADD_FAILURE when it could not start.
QString PrivateKeyringBus();
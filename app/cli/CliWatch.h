#pragma once

class TCliFrontEnd;
class TCliInterrupts;
class TProject;
struct TArguments;

// zandrel-cli watch: uploads the project as its files are saved, until Ctrl+C or SIGTERM. The
// project is locked, loaded and its password settled by the caller, as for upload; the lock
// is held until the end.
int WatchCommand(const TArguments &args, TProject &project, TCliFrontEnd &frontEnd,
                 TCliInterrupts &interrupts);

#pragma once

// The agent's life as a local server: it runs while an object of it lives or
// a client holds a lock (IClassFactory::LockServer), and ends when the last of
// them is gone.

// Every live object and every lock holds the server once.
void HoldServer() noexcept;
void ReleaseServer() noexcept;
// A hold for a new object, refused once the last hold has gone: the process
// then ends, and the activation is answered CO_E_SERVER_STOPPING so that the
// client asks again and COM starts a fresh agent.
bool HoldServerUnlessStopping() noexcept;

// Serves the agent's class to COM on this thread until the last hold is
// released. Answers the process's exit code.
int RunLocalServer() noexcept;

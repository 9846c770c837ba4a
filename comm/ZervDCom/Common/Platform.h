#pragma once

// Keeps the machine from sleeping while a connection runs; nothing to do on
// Linux, kept as one call so a port can fill it.
void keepSystemAwake() noexcept;

// The kernel's id of the calling thread (printed in log lines).
int currentThreadId() noexcept;

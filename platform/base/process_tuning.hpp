#pragma once
// Process-wide settings of a program that serves HTTP for days: called once at program start-up
// (main), before any thread starts. Libraries never change these behind the program's back.
namespace platform {

// - The allocator: one arena per core instead of up to eight, and blocks from 256 KiB up mapped
//   and unmapped on their own (MALLOC_ARENA_MAX / MALLOC_MMAP_THRESHOLD_ decide when set).
// - SIGPIPE ignored when it has its default action: sendfile(2) to a client that has gone
//   raises it, and the error code says enough.
// - The soft limit of open descriptors raised to the hard limit: the HTTP server holds tens of
//   thousands of connections and stays below that limit.
// - Memory freed by connections that ended is handed back to the system (ReleaseFreedMemory).
// Calling it again does nothing.
void TuneProcess();

// Tells that a larger amount of memory was freed (a connection ended). After TuneProcess, the
// free memory of the allocator's arenas goes back to the system once nothing was freed for
// 100 ms, or once a second while memory keeps being freed; trimming walks every arena, so it
// runs on a thread of its own. Without TuneProcess it does nothing. Cheap; any thread.
void ReleaseFreedMemory();

} // namespace platform

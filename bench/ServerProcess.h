#pragma once
// What /proc tells about the server under load, read by its pid.
namespace velmora::bench {

// A field of /proc/PID/status ("VmRSS:", "VmHWM:") in kB; -1 without a pid or the field.
long ServerStatusKb(int pid, const char* field);
// Sets VmHWM back to VmRSS (writes 5 to /proc/PID/clear_refs); false when that was refused.
bool ResetServerPeak(int pid);
// User and system CPU seconds of the process; -1 without a pid.
double ServerCpuSeconds(int pid);

}  // namespace velmora::bench

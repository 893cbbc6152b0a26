#pragma once

namespace fw {

class ExpositionWriter;

// The process's own resources, under the names the Prometheus client libraries give them on the platform:
// process_cpu_seconds_total, process_virtual_memory_bytes, process_resident_memory_bytes, process_open_fds,
// process_max_fds and process_start_time_seconds. A figure the system does not give is left out.
void processFamilies(ExpositionWriter& w);

} // namespace fw

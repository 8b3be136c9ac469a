// The 5850's secure writer: a RAM program of the user's, uploaded into the
// chip and started; it then takes over the flash download and reports its
// state with status events FE 95 27 s.
#pragma once

#include <cstdint>
#include <vector>

class Download;
struct JobRecord;

// Status values of the writer's events.
inline constexpr uint8_t SECURE_WRITER_READY = 0x11;
inline constexpr uint8_t SECURE_WRITER_RESTART = 0x22;
inline constexpr uint8_t SECURE_WRITER_DOWNLOAD = 0x33;

// Uploads the program in chunks (re-establishing the link at most six times
// over the whole upload) and starts it. 1 when the writer reports ready, 0
// otherwise. `record` is what a reconnect needs.
[[nodiscard]] int secure_writer_upload(Download* job, const JobRecord* record, const std::vector<uint8_t>& program);

// Starts the uploaded program: 1 when its ready event arrives, 0 otherwise.
[[nodiscard]] int secure_writer_start(Download* job);

// Up to three looks for a status event; its status, or 0 when none came.
[[nodiscard]] uint8_t secure_writer_status(Download* job);

// Run log, traffic log and console progress line.
//
// Every message of the device procedures goes through job_log; the front end
// prints straight to standard output. Both log files are opened at most once
// per process and every write is flushed, so the files are complete up to the
// last line if the process dies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#define TESK_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

// Message levels of job_log.
enum LogLevel : int {
    LOG_ERROR = 0,   // console and run log
    LOG_INFO = 2,    // console and run log
    LOG_DETAIL = 3,  // run log only
};

// Opens the run log for appending; a second call while it is open does nothing.
void log_open(const std::string& path);
bool log_is_open();

// Writes " " + the formatted text (cut after 1024 characters) to the run log,
// when it is open. No line break is added.
void log_printf(const char* format, ...) TESK_PRINTF(1, 2);

// Timestamped message: "YYYY-MM-DD hh:mm:ss.mmm    message\n" to the console
// (unless level 3) and to the run log.
void job_log(int level, const char* format, ...) TESK_PRINTF(2, 3);

// Opens the traffic log for appending; a second call while it is open does nothing.
void traffic_log_open(const std::string& path);
bool traffic_log_is_open();

// One traffic line with at most 128 bytes of hex; tag is "IN" or "OUT".
void log_hex_dump(const uint8_t* data, const char* tag, size_t length);

// "text ... N%\r" on the console, overwriting the previous progress line.
void show_progress(const char* text, int percent);
void show_erase_progress(int percent);

// Test hook: console output of job_log and the progress line goes to this
// stream (standard output when null).
void log_set_console(FILE* stream);

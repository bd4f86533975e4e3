// The server's settings: the store access layer, and the three settings groups
// with their defaults and load transforms.
//
// The records are process state owned by this module. Engine threads never
// read them in place: they take a consistent copy with current_settings(), so
// a record replaced over the control pipe is never seen half-copied. The
// module knows nothing of who reads the records: a host that replaces them
// tells the engine itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeclient/records.h"

inline constexpr const char* kMainSection = "Pravlen";
inline constexpr const char* kAccessSection = "Access";
inline constexpr const char* kPxeSection = "PXE";
inline constexpr std::size_t kPathSize = 1024;

// Everything the engine reads, copied together.
struct Settings {
    ServerSettings server;
    MulticastSettings multicast;
    PxeSettings pxe;
    char logDir[kPathSize];
    // The largest windowsize granted to a client ("MaxWindowSize"); 0 turns
    // the option off. A store value only: the pipe's records do not carry it.
    int32_t maxWindowSize;
};

inline constexpr int32_t kDefaultMaxWindowSize = 64;

// Store access. read_setting copies the stored text, or `fallback` when the
// value is missing or would not fit `size` bytes with its NUL, and returns the
// length of the text in the buffer.
std::size_t read_setting(const char* section,
                         const char* name,
                         const char* fallback,
                         char* buffer,
                         std::size_t size);
int read_setting_int(const char* section, const char* name, int fallback);
// Stores `text`, or deletes the value when `text` is null. 1 on success, 0 on
// failure.
int write_setting(const char* section, const char* name, const char* text);
// Deletes the value when it equals its default, else stores it as "%d".
int write_setting_int(const char* section, const char* name, int value, int fallback);

// The three groups: load from the store into the process records, save the
// process records to the store.
void load_main_settings(const char* section);
void save_main_settings(const char* section);
void load_multicast_settings(const char* section);
void save_multicast_settings(const char* section);
void load_pxe_settings(const char* section);
void save_pxe_settings(const char* section);

// The program directory, default of RootDirectory and LogDir; set once by the
// run sequence before the first load.
void set_default_directory(const char* directory);

// A consistent copy of all settings.
Settings current_settings();

// The log level, read on every log line without copying the records.
int current_log_level();

// Narrow writes by the engine and the log.
void set_listen_failed(bool failed);
void switch_logging_off();
void raise_log_level(int minimum);

// Replacement of a whole record by the control pipe: the record is taken
// (text fields cut at their last byte), saved, and reloaded from the store,
// so afterwards the process records equal what the store holds. The
// listen-failed flag is never taken from a client.
void replace_server_settings(const ServerSettings& incoming);
void replace_multicast_settings(const MulticastSettings& incoming);
void replace_pxe_settings(const PxeSettings& incoming);

// Returns every record to its process-start state (tests only).
void reset_settings_for_testing();

// Sets all records at once without the store (tests and fuzzers only).
void set_settings_for_testing(const Settings& settings);

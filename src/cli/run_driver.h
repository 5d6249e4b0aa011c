// The run driver: the program's entry and its loops over targets and
// sources, ending the process with the error level.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>

namespace zorov {

// Run state of the driver, process-wide.
extern int32_t source_end;
extern int32_t target_cursor;
extern TextStream *target_list_file;
extern int32_t target_error;
extern int32_t last_result;
extern int32_t worst_result;
extern bool pool_ready;
// Size in bytes of every read and write request of the buffered copy.
extern int32_t run_block_size;

// Runs the whole copy and ends the process with the error level.
[[noreturn]] void run_copy(int argc, nchar **argv);

// Index of the `-to` keyword among the operands, or 0 when there is none.
int find_target_keyword(int argc, nchar **argv, int first_operand);

// The next target name into `name`: true, or false when the targets are
// exhausted. Lines of a target response file come in pieces of at most
// kPathMax characters.
bool next_target(nstring *name, int argc, nchar **argv);

// The exit code: the last source's result, else the last failed target's,
// else the worst source result of the run.
int32_t form_error_level(int32_t last, int32_t target, int32_t worst);

} // namespace zorov

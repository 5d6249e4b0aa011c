"""The structure lint: fails when a file of src/ outside the platform layer
asks which platform it runs on, or when a folder includes a header of a
folder above it.

A platform question is a preprocessor conditional on a platform macro, or a
comparison with a path style (`native_path_style == ...`,
`style != path_style_posix`). The rest of the program asks the platform layer
what it needs to know instead (`names_ignore_case(style)`, ...). Passing a
style along, or naming one as data in a test's table, is no question.

The folders are layers, from the top: cli, naming, decide, engine, progress,
platform. A file (test files included) may include the headers of its own
folder and of the folders below it; the shared base of cli (src/cli/base:
the settings record, the message channels, the error levels) and the
exclusion list (naming/exclusion.h) serve every folder. Files outside the
folders (src/main.cpp, tests/) stand above the layers.

A name's character size (`sizeof(nchar)`) is such a question too. The
settings record is written by the flag parser alone (tests set a run up
through tests/support/test_settings.h).

The lint checks itself first against a table of lines it must flag or
accept, so a rule that stops matching fails here rather than passing
silently. Prints one line per finding and a count; exits 1 on any.
"""

import os
import re
import sys

PLATFORM_MACROS = (r"_WIN32|_WIN64|WIN32|__linux__|__unix__|__APPLE__|_MSC_VER|__MINGW32__|"
                   r"__MINGW64__|_POSIX_VERSION")
CONDITIONAL = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(%s)\b" % PLATFORM_MACROS)
STYLE = r"\b(native_path_style|path_style_windows|path_style_posix)\b"
STYLE_COMPARISON = re.compile(r"(==|!=)\s*%s|%s\s*(==|!=)|\bcase\s+%s" % (STYLE, STYLE, STYLE))
# The width of a name's character says which platform a name is of.
CHARACTER_SIZE = re.compile(r"\bsizeof\s*\(\s*nchar\s*\)")
LINE_COMMENT = re.compile(r"//.*$")
LAYERS = ["cli", "naming", "decide", "engine", "progress", "platform"]
SHARED_HEADERS = {
    "cli/base/options.h", "cli/base/messages.h", "cli/base/error_level.h", "naming/exclusion.h"
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
# The settings record is written by the flag parser alone.
SETTINGS_WRITER = re.compile(r"\boptions_to_fill\b")
SETTINGS_WRITERS = {"cli/flags.cpp", "cli/flags.h", "cli/base/options.cpp"}


def platform_question(line):
    """The kind of platform question the line asks, or None."""
    if CONDITIONAL.search(line):
        return "platform conditional"
    code = LINE_COMMENT.sub("", line)
    if STYLE_COMPARISON.search(code):
        return "path style comparison"
    if CHARACTER_SIZE.search(code):
        return "name character size"
    return None


def upward_include(folder, line):
    """The header of a higher folder that the line includes, or None."""
    match = INCLUDE.match(line)
    if not match or folder not in LAYERS:
        return None
    header = match.group(1)
    above = header.split("/")[0]
    if header in SHARED_HEADERS or above not in LAYERS:
        return None
    return header if LAYERS.index(above) < LAYERS.index(folder) else None


def line_finding(folder, line):
    """What is wrong with one line of a file in `folder`, or None."""
    header = upward_include(folder, line)
    if header:
        return "upward include of %s" % header
    if folder == "platform":
        return None
    kind = platform_question(line)
    return kind + " outside src/platform" if kind else None


def findings(relative_path, lines):
    """Messages for the lines of one file; `relative_path` is below src/."""
    folder = relative_path.split("/")[0] if "/" in relative_path else ""
    messages = []
    for number, line in enumerate(lines, 1):
        finding = line_finding(folder, line)
        if (not finding and relative_path not in SETTINGS_WRITERS and
                SETTINGS_WRITER.search(LINE_COMMENT.sub("", line))):
            finding = "settings written outside the flag parser"
        if finding:
            messages.append("%s:%d: %s: %s" % (relative_path, number, finding, line.strip()))
    return messages


# (path below src/, line, whether the lint must flag it)
SELF_CHECKS = [
    ("engine/copy_entry.cpp", "#if defined(_WIN32)", True),
    ("engine/copy_entry.cpp", "  #  ifdef __linux__", True),
    ("naming/sources_test.cpp", "#elif _MSC_VER >= 1900", True),
    ("cli/help.cpp", "  if (native_path_style == path_style_windows)", True),
    ("cli/flags.cpp", "  return style != path_style_posix;", True),
    ("engine/copy_entry.cpp", "  bool windows = path_style_windows==style;", True),
    ("decide/file_job.cpp", "  case path_style_posix:", True),
    ("main.cpp", "#ifdef _WIN32", True),
    ("engine/copy_entry_test.cpp", '      {NT("C:\\\\a"), NT("c:\\\\A"), path_style_windows, true},',
     False),
    ("naming/tree_copy.cpp", "  return join_path(directory, name, native_path_style);", False),
    ("cli/help.cpp", "  nchar separator = preferred_separator<nchar>(native_path_style);", False),
    ("engine/copy_entry.cpp", "  // unlike native_path_style == path_style_posix, which", False),
    ("engine/copy_entry.cpp", "#ifdef ZOROV_TESTS", False),
    ("naming/exclusion.cpp", "  options_to_fill().exclusions = nodes;", True),
    ("engine/copy_entry_test.cpp", "  options_to_fill().quiet = true;", True),
    ("cli/flags.cpp", "CopyOptions &settings = options_to_fill();", False),
    ("engine/same_file.cpp", "  if (sizeof(nchar) > 1)", True),
    ("engine/same_file_test.cpp", "  if (sizeof( nchar ) != 1)", True),
    ("naming/exclusion.cpp", "  // sizeof(nchar) is no question here", False),
    ("platform/path_syntax.h", "inline bool names_are_utf16() { return sizeof(nchar) > 1; }", False),
    ("engine/copy_entry.cpp", "#include <windows.h>", False),
    ("platform/platform_fake.cpp", "const bool windows_names = native_path_style == "
     "path_style_windows;", False),
    ("platform/native.h", "#if defined(_WIN32)", False),
    ("engine/block_copy.cpp", '#include "cli/run_driver.h"', True),
    ("engine/copy_test_fixture.h", '#  include "cli/run_driver.h"', True),
    ("naming/sources_test.cpp", '#include "cli/run_test_support.h"', True),
    ("decide/generations.cpp", '#include "naming/path_probe.h"', True),
    ("platform/platform_fake.cpp", '#include "progress/progress.h"', True),
    ("progress/progress.cpp", '#include "engine/copy_entry.h"', True),
    ("engine/copy_entry.cpp", '#include "cli/base/options.h"', False),
    ("progress/progress.cpp", '#include "cli/base/messages.h"', False),
    ("decide/file_job.cpp", '#include "naming/exclusion.h"', False),
    ("cli/run_driver.cpp", '#include "engine/buffer_pool.h"', False),
    ("decide/file_job.cpp", '#include "decide/freshness.h"', False),
    ("naming/tree_copy.cpp", '#include "platform/path_syntax.h"', False),
    ("cli/help.cpp", '#include "version.h"', False),
    ("engine/copy_entry_test.cpp", "#include <gtest/gtest.h>", False),
    ("main.cpp", '#include "cli/run_driver.h"', False),
    ("engine/copy_entry.cpp", '// #include "cli/run_driver.h" no more', False),
]


def self_check():
    """Messages for the rows of SELF_CHECKS the lint gets wrong."""
    wrong = []
    for path, line, flagged in SELF_CHECKS:
        if bool(findings(path, [line])) != flagged:
            wrong.append("self-check: %s should %sbe flagged in %s" %
                         (line.strip(), "" if flagged else "not ", path))
    return wrong


def source_files(root):
    for base, _, files in sorted(os.walk(root)):
        for name in sorted(files):
            path = os.path.join(base, name)
            yield os.path.relpath(path, root).replace(os.sep, "/"), path


def main():
    wrong = self_check()
    for line in wrong:
        print(line)
    if wrong:
        return 1
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    messages = []
    for relative_path, path in source_files(root):
        with open(path, encoding="utf-8", errors="replace") as handle:
            messages += findings(relative_path, handle.read().splitlines())
    for line in messages:
        print(line)
    print("lint: %d self-checks passed, %d findings" % (len(SELF_CHECKS), len(messages)))
    return 1 if messages else 0


if __name__ == "__main__":
    sys.exit(main())

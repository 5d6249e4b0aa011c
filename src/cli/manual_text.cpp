// The manual, line for line as users have always read it (its spelling and
// its repeated line included).
#include "cli/manual_text.h"

#include "version.h"

namespace zorov {

namespace {

const char kNotice[] =
    "This program is distributed in the hope that it will be useful, but WITHOUT\n"
    "ANY WARRANTY; without even the implied warranty of MERCHANTABILITY or FITNESS\n"
    "FOR A PARTICULAR PURPOSE.\n\n";

const char *const kUsage[] = {
    "Usage is:\n zorov [flags] src1 [src2 ...] target -or-\n",
    " zorov [flags] src1 [src2 ...] -to target1 [target2...]\n\n",
};

const char *const kDescription[] = {
    "Copies source files to target. If only one source file is present, the target\n",
    "may be a file or directory. If more than one source file is present, the target\n",
    "must be a directory. A source file name may include the wildcard characters\n",
    "* and ?.  If a target ends with a \\ or /, it is assumed to be a directory\n",
    "name. If more than one source file is present and the target directory does\n",
    "not exist, a directory will be be created.   NEW -S flag copies subdirectories.\n",
    "Existing files are overwritten. \n\n",
    "If the -to flag is used, multiple targets are allowed.  If the -to flag is\n",
    "is omitted, the last entry on the command line is assumed to be the target.\n",
    "If wildcards are used and the target is accidently omitted, the last source\n",
    "will be used as the target and may be overwritten.\n\n",
    "If any target begins with an @, it is assumed to be a response file which\n",
    "contains a list of targets, 1 to a line.  If the response files do not\n",
    "exist, the source or target is assumed to be a file name or directory name.\n",
    "\nWarning -- ZOROV will not work properly with files larger than 2GB.\n",
    "\n",
};

const char *const kFlagSummary[] = {
    "\nFlags:\n",
    "[{-c[r]|-n[r]|-w[r]|-r}] [-m] [-b] [-kn] [-p[r] [-q] \n",
    "[{-in[K]/s | -on[K]/s}] [{-llogfi | -Llogfi}] [-t] [-f] [-l-]\n",
};

const char *const kFlags[] = {
    "-r       -- replace existing files only.  Unconditional Replacement.\n",
    "-w       -- copy files that either have newer Windows Versions or if the versions\n",
    "            are the same, then have newer file dates than the receiving files\n",
    "            or do not exist in the receiving directory.\n",
    "-wx      -- Same as -w above, but assume that two files have the same modification time\n",
    "            if the difference in modification times is <=x seconds (default is 0 seconds\n",
    "-n  --      copy files that are newer than receiving file, -or- do not exist\n",
    "-nx      -- Same as -n above, but assume that two files have the same modification time\n",
    "            if the difference in modification times is <=x seconds (default is 0 seconds\n",
    "-c  --      copy changed files, i.e. those files where either the file\n",
    "            modification time, file size or file version of the source \n",
    "            file is different from the destination or where files exist\n",
    "            in the source but not the destination.\n",
    "            File modification times are considered equal if they are within\n",
    "            two seconds of each other in order to work around differences \n",
    "            in the way times are stored on the FAT and NTFS file systems.\n",
    "-cx      -- Same as -c above, but assume that two files have the same modification time\n",
    "            if the difference in modification times is <=x seconds (default is 0 seconds\n",
    "-wr      -- Like -w, but the file must exist in the receiving directory.\n",
    "-nr      -- copy only files that are newer than existing files.\n",
    "-cr      -- copy only files that are changed.\n",
    "-o       -- Overwrite output files even if marked as READ ONLY.\n",
    ("-os      -- Safe Overwrite.  Copy the file with a temporary name.  If the copy is "
     "successful,\n"),
    "            delete the original output file and rename the temporary file to the new name.\n",
    "-e       -- Copytoend.  Append the source file to the end of the destination file.\n",
    "-b       -- Batch mode.  Use when redirecting output.  Forces all messages\n",
    "            to stdout and omits spinning bars during copy.\n",
    "-m       -- Move source to destination, i.e. delete source files after copy.  Leaves the\n",
    "\t\t\t directory structure intact.  (Does not delete empty directories).\n",
    "-kn      -- n < 64 -- Set a blocksize of nKB; n < 1024 set a blocksize of n bytes.\n",
    "            Default is 65024 bytes.  Smaller block sizes should be used if you \n",
    "            time out on WAN copies.\n",
    "-p       -- Take checkpoints during the copy.  This forces a write to disk after\n",
    "            every block.  This option slows the copy, use for WAN copies only.\n",
    "-pr      -- Take checkpoints as above.  If the target file exists, do a restart,\n",
    "            ie., add missing data to the end of the existing target.\n",
    "-Llogfi  -- Log all copy results to the logfi.  Create a second file named\n",
    "            logfi.fil that contains a list of all of the files that were\n",
    "            successfully copied.  If logfi exists, then the log is appended.\n",
    "            If logfi.fil exists, it is replaced.\n",
    "-llogfi  -- Log all copy results to the logfi.  Do not create file list.\n",
    "            If logfi exists, the new log is appended to logfi.\n",
    "-l-         Do not log files that were not copied because they were up to date.\n",
    "-a\t\t  -- Archive existing files while preserving file extention. If the \n",
    "\t\t\t destination file already exists, it is renamed before the copy.  \n",
    "\t\t     This places a .(-01). in front of the file extention.  Earlier\n",
    "            versions are renamed so that the next version has .(-02). \n",
    "            before the file extention.  By default, 5 versions of the file will\n",
    "            be kept, but that can be overridden by the -g or -G flags.\n",
    "            You can use the -a flag to save a backup copy of a file or group of\n",
    "            files before changing them by running: ZOROV -a filename [filename...] -to .\n",
    "            -a can only be used when the destination is a file.  If you specify\n",
    "            a stream instead of a file, ZOROV will not copy.\n",
    "            a stream instead of a file, ZOROV will not copy.\n",
    "-gn      -- n <= 99.  Save n generations of the file in the target directory.\n",
    "            If you lower the number of generations in subsequent calls to,\n",
    "            archive, older generations will not be deleted. If set, -A assumed.\n",
    "            -G can only be used when the destination is a file.  If you specify\n",
    "            a stream instead of a file, ZOROV will not copy.\n",
    "-in[K]/s -- Pace input to n (or nKB) bytes every s seconds.\n",
    "            Example: -i10K/2 <=== Pace to 10KB every 2 seconds.\n",
    "-on[K]/s -- Pace output to n (or nKB) bytes every s seconds.\n",
    "            You may specified either Input pacing or Output pacing, not both.\n",
    "            Example: -o100K/10 <=== Pace to 100KB every 10 seconds.\n",
    "-Q       -- Quiet Mode.  Does not display status information.\n",
    "            If omitted, a banner displays when the program starts \n",
    "            and Copy progress is reported as ZOROV runs.  The percentage\n",
    "            copied will be displayed in the console window.  If a \n",
    "            large copy is performed, a GUI progress window will open.\n",
    "-h       -- Copy hidden/system files when doing a wildcard copy.\n",
    "            Hidden/System attributes will NOT be set by copy.\n",
    "-h+      -- Copy hidden/system files.  Set attributes.\n",
    "-s       -- Copy subdirectories recursively, source must be a directory.\n",
    "-sv      -- Copy as above, verbose mode.  Echo each directory being scanned.\n",
    "-t       -- Time the copy and write statistics to stdout.\n",
    "-f       -- Move all forks(streams) in a file.  Windows 32 Only.  Uses the \n",
    "            CopyFileEx API.  When -f is specified the Input Pacing, Output Pacing, \n",
    "            Verify and BlockSize options are not available.  Attributes of the output \n",
    "            file will be set to the attributes of the input file.\n",
    "-id      -- Identify files to be copied, but don't copy files.  Use with -c or -n.\n",
    "-x \"f1..\"-- List of filenames to exclude.  Wildcard characters can be used.\n",
    "            The list should be enclosed in quotes.  If multiple files are listed,\n",
    "            separate each file name with a semicolon.  Use a forward slash (/) \n",
    "            instead of a backslash (\\) as the directory seperator. \n",
    "            Examples -x=\"*.exe;*/abc/*\" will exclude exe files and any files in \n",
    "            directory abc from the copy.\n",
};

const char *const kClosing[] = {
    "\nZOROV continues working if short blocks are read or written.  Short blocks\n",
    "are sometimes caused by timeouts when copying accross a WAN.  ZOROV supports\n",
    "WAN copying.\n\n",
};

const char *const kReturns[] = {
    "Returns ERROR LEVEL 0--All files copied; else some files did not copy.\n\n\n\n",
};

template <size_t count> TextLines lines_of(const char *const (&lines)[count]) {
  return TextLines{lines, count};
}

} // namespace

const ManualText &manual_text() {
  static const ManualText text = {
      version_banner,         kNotice,          lines_of(kUsage),   lines_of(kDescription),
      lines_of(kFlagSummary), lines_of(kFlags), lines_of(kClosing), lines_of(kReturns),
  };
  return text;
}

} // namespace zorov

#!/usr/bin/env python3
"""winrules.py TRACE...: documented Windows file rules that Wine does not enforce, checked on a
Wine trace of a real run. Prints one line per violation, then 'winrules: N violation(s)';
exit 1 if any (2 when a trace cannot be read or holds no file calls at all).

Make the trace by running the program (or a test host of the plug-in exports) with
WINEDEBUG=trace+file; Wine writes the trace to standard error:
    WINEDEBUG=-all,trace+file wine Host.exe ... 2> run.trace; python3 winrules.py run.trace
Each rule reads the file calls as Wine 8 logs them: the Win32 names (CreateFileW,
CreateDirectoryW, CopyFileExW, MoveFileWithProgressW, DeleteFileW, RemoveDirectoryW,
SetFileAttributesW, GetTempFileNameW) and NtCreateFile with its access=, attr=, sharing=,
disp= and options= fields (all hexadecimal but disp). SetFileAttributesW prints the
attributes in hexadecimal. The attributes of a file are known only when the trace shows
them being set (SetFileAttributes, a create with attributes, a copy of a file whose
attributes are known, a rename); a file that existed before the run is taken as normal.

R1 (CreateFile remarks): opening an existing file with CREATE_ALWAYS / TRUNCATE_EXISTING (or
    any NT overwrite disposition) fails with ERROR_ACCESS_DENIED when the file is hidden or
    system and the call does not ask for the same attributes. Wine opens it anyway.
R2 (MoveFileEx, ReplaceFile remarks): a rename with MOVEFILE_REPLACE_EXISTING onto a file that
    is read-only fails with ERROR_ACCESS_DENIED. Wine replaces it.
R3 (Naming Files): a Win32 path whose component ends in a period or a space is trimmed by
    Windows ("foo." and "foo " name "foo"), and the reserved device names (CON, PRN, AUX, NUL,
    COM1-COM9, LPT1-LPT9, with or without an extension) name the device, not a file. Wine
    keeps such names as they are. Paths starting "\\\\?\\" are exempt, as on Windows.
R4 (CreateFile dwShareMode): a read open with share mode 0 of a file that the run did not
    create itself fails with ERROR_SHARING_VIOLATION while anyone else (the mail client, an
    indexer, a scanner) holds it open. Wine's desktop has no such other holder.
R5 (DeleteFile, RemoveDirectory remarks): deleting a read-only file, or removing a read-only
    folder, fails with ERROR_ACCESS_DENIED. Wine deletes it.
R6 (CreateDirectory lpPathName): the ANSI call is limited to 248 characters (MAX_PATH less
    room for an 8.3 name); Wine allows MAX_PATH.
"""
import re
import sys

SET_ATTR = re.compile(r'trace:file:SetFileAttributesW L"(.*)" ([0-9a-fA-F]+)\s*$')
NT_CREATE = re.compile(r'trace:file:NtCreateFile .*?access=([0-9a-fA-F]+) name=L"(.*?)" .*? '
                       r'attr=([0-9a-fA-F]+) sharing=([0-9a-fA-F]+) disp=(\d+) options=([0-9a-fA-F]+)')
CREATE_FILE = re.compile(r'trace:file:CreateFileW L"(.*?)" ')
CREATE_DIR = re.compile(r'trace:file:CreateDirectoryW L"(.*)"\s*$')
COPY = re.compile(r'trace:file:CopyFileExW L"(.*?)" -> L"(.*?)"')
MOVE = re.compile(r'trace:file:MoveFileWithProgressW \(L"(.*?)",L"(.*?)",[^,]*,[^,]*,([0-9a-fA-F]+)\)')
DELETE = re.compile(r'trace:file:DeleteFileW L"(.*)"\s*$')
RMDIR = re.compile(r'trace:file:RemoveDirectoryW L"(.*)"\s*$')
TEMP_NAME = re.compile(r'trace:file:GetTempFileNameW returning L"(.*)"\s*$')

READONLY, HIDDEN, SYSTEM, NORMAL = 0x1, 0x2, 0x4, 0x80
HIDDEN_SYSTEM = HIDDEN | SYSTEM
KEPT = READONLY | HIDDEN | SYSTEM
OVERWRITE = {0, 4, 5}          # FILE_SUPERSEDE, FILE_OVERWRITE, FILE_OVERWRITE_IF
CREATING = {0, 2, 5}           # dispositions that leave a new file when the name is free
MOVEFILE_REPLACE_EXISTING = 0x1
FILE_DIRECTORY_FILE = 0x1
WRITE_ACCESS = 0x2 | 0x4 | 0x100 | 0x10000 | 0x40000000   # data, append, attributes, delete, generic
DEVICES = {'CON', 'PRN', 'AUX', 'NUL'} | {'COM%d' % i for i in range(1, 10)} | \
          {'LPT%d' % i for i in range(1, 10)}
CREATE_DIRECTORY_LIMIT = 248


def unescape(path):
    """A path as Wine's debugstr_w prints it, back to the text of the call."""
    return path.replace('\\\\', '\\')


def norm(path):
    p = unescape(path)
    if p.startswith('\\??\\'):
        p = p[4:]
    return p.lower()


def bad_component(path):
    """The first component that Windows would trim or read as a device, or None."""
    p = unescape(path)
    if p.startswith('\\\\?\\') or p.startswith('\\??\\'):
        return None
    for part in p.replace('/', '\\').split('\\'):
        if part in ('', '.', '..') or (len(part) == 2 and part[1] == ':'):
            continue
        if part[-1] in '. ':
            return part
        if part.split('.')[0].rstrip(' ').upper() in DEVICES:
            return part
    return None


class Checker:
    def __init__(self):
        self.attrs = {}        # path -> attribute bits the run gave it (READONLY|HIDDEN|SYSTEM)
        self.created = set()   # paths the run created itself
        self.bad = []
        self.calls = 0

    def flag(self, rule, text, path):
        self.bad.append('%s %s: %s' % (rule, text, path))

    def check_name(self, call, path):
        part = bad_component(path)
        if part is not None:
            self.flag('R3', '%s of a name that Windows trims or reads as a device ("%s")' % (call, part),
                      unescape(path))

    def line(self, line):
        if 'trace:file:' not in line:
            return
        m = SET_ATTR.search(line)
        if m:
            self.calls += 1
            self.check_name('SetFileAttributes', m.group(1))
            self.attrs[norm(m.group(1))] = int(m.group(2), 16) & KEPT
            return
        m = NT_CREATE.search(line)
        if m:
            self.calls += 1
            self.nt_create(norm(m.group(2)), int(m.group(1), 16), int(m.group(3), 16),
                           int(m.group(4), 16), int(m.group(5)), int(m.group(6), 16))
            return
        m = CREATE_FILE.search(line)
        if m:
            self.check_name('CreateFile', m.group(1))
            return
        m = CREATE_DIR.search(line)
        if m:
            self.calls += 1
            self.check_name('CreateDirectory', m.group(1))
            if len(unescape(m.group(1))) > CREATE_DIRECTORY_LIMIT:
                self.flag('R6', 'CreateDirectory of a path longer than %d characters (Windows: '
                          'ERROR_FILENAME_EXCED_RANGE)' % CREATE_DIRECTORY_LIMIT, unescape(m.group(1)))
            self.created.add(norm(m.group(1)))
            return
        m = COPY.search(line)
        if m:
            self.calls += 1
            source, target = norm(m.group(1)), norm(m.group(2))
            self.check_name('CopyFile', m.group(2))
            if self.attrs.get(target, 0) & READONLY:
                self.flag('R2', 'CopyFile over a read-only file (Windows: ERROR_ACCESS_DENIED)', target)
            self.attrs[target] = self.attrs.get(source, 0)   # CopyFile copies the attributes
            self.created.add(target)
            return
        m = MOVE.search(line)
        if m:
            self.calls += 1
            source, target, flags = norm(m.group(1)), norm(m.group(2)), int(m.group(3), 16)
            self.check_name('MoveFileEx', m.group(2))
            if flags & MOVEFILE_REPLACE_EXISTING and self.attrs.get(target, 0) & READONLY:
                self.flag('R2', 'MoveFileEx replacing a read-only file (Windows: ERROR_ACCESS_DENIED)', target)
            self.attrs[target] = self.attrs.pop(source, 0)
            self.created.discard(source)
            self.created.add(target)
            return
        for pattern, call in ((DELETE, 'DeleteFile'), (RMDIR, 'RemoveDirectory')):
            m = pattern.search(line)
            if m:
                self.calls += 1
                path = norm(m.group(1))
                if self.attrs.get(path, 0) & READONLY:
                    self.flag('R5', '%s of a read-only %s (Windows: ERROR_ACCESS_DENIED)' %
                              (call, 'folder' if call == 'RemoveDirectory' else 'file'), path)
                self.attrs.pop(path, None)
                self.created.discard(path)
                return
        m = TEMP_NAME.search(line)
        if m:
            self.calls += 1
            self.attrs[norm(m.group(1))] = 0
            self.created.add(norm(m.group(1)))

    def nt_create(self, path, access, attr, sharing, disp, options):
        have = self.attrs.get(path, 0) & HIDDEN_SYSTEM
        if disp in OVERWRITE and have and (attr & have) != have:
            self.flag('R1', 'overwrite of a hidden/system file without those attributes '
                      '(Windows: ERROR_ACCESS_DENIED)', path)
        if (disp == 1 and sharing == 0 and not access & WRITE_ACCESS and not options & FILE_DIRECTORY_FILE
                and path not in self.created and ':' in path):
            self.flag('R4', 'read open with share mode 0 of a file the run did not create '
                      '(Windows: ERROR_SHARING_VIOLATION while another handle is open)', path)
        if disp in OVERWRITE or disp == 2:   # a new or truncated file takes the attributes asked for
            self.attrs[path] = attr & KEPT
        if disp in CREATING:
            self.created.add(path)


def main(traces):
    status = 0
    total = 0
    for trace in traces:
        checker = Checker()
        try:
            with open(trace, errors='replace') as fh:
                for line in fh:
                    checker.line(line)
        except OSError as error:
            print('winrules: cannot read %s: %s' % (trace, error))
            return 2
        if checker.calls == 0:
            print('winrules: %s holds no file calls (was it made with WINEDEBUG=trace+file?)' % trace)
            return 2
        for b in checker.bad:
            print('%s: %s' % (trace, b) if len(traces) > 1 else b)
        total += len(checker.bad)
        status = status or (1 if checker.bad else 0)
    print('winrules: %d violation(s)' % total)
    return status


if __name__ == '__main__':
    if len(sys.argv) < 2:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""The Windows-rules checker on small traces in Wine 8's own line formats: each rule fires on
the call sequence Windows refuses and stays quiet on the sound sequence beside it."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winrules  # noqa: E402


def set_attr(path, value):
    return '0150:trace:file:SetFileAttributesW L"%s" %x\n' % (path.replace('\\', '\\\\'), value)


def nt_create(path, disp, attr=0, sharing=0, access=0xc0100080, options=0x60):
    return ('0150:trace:file:NtCreateFile handle=0x1bbf5c8 access=%08x name=L"\\\\??\\\\%s" objattr=00000040 '
            'root=(nil) sec=(nil) io=0x1bbf5d4 alloc_size=(nil) attr=%08x sharing=%08x disp=%d options=%08x '
            'ea=(nil).0x00000000\n' % (access, path.replace('\\', '\\\\'), attr, sharing, disp, options))


def win32(call, *paths, tail=''):
    quoted = ['L"%s"' % p.replace('\\', '\\\\') for p in paths]
    if call == 'MoveFileWithProgressW':
        return '0150:trace:file:%s (%s,%s,00000000,00000000,%s)\n' % (call, quoted[0], quoted[1], tail)
    if call == 'CopyFileExW':
        return '0150:trace:file:%s %s -> %s, 0\n' % (call, quoted[0], quoted[1])
    if call == 'CreateFileW':
        return '0150:trace:file:%s %s GENERIC_READ  creation 3 attributes 0x0\n' % (call, quoted[0])
    if call == 'GetTempFileNameW':
        return '0150:trace:file:%s returning %s\n' % (call, quoted[0])
    return '0150:trace:file:%s %s\n' % (call, quoted[0])


def check(*lines):
    checker = winrules.Checker()
    for line in lines:
        checker.line(line)
    return [b.split(' ')[0] for b in checker.bad]


TMP = r'C:\Backup\vlb201c.tmp'
ARCHIVE = r'C:\Backup\Outlook Express.vlb'


class Rules(unittest.TestCase):
    def test_r1_overwrite_of_a_hidden_file_needs_its_attributes(self):
        made = win32('GetTempFileNameW', TMP)
        self.assertEqual(['R1'], check(made, set_attr(TMP, 0x2), nt_create(TMP, 5)))
        self.assertEqual([], check(made, set_attr(TMP, 0x2), nt_create(TMP, 5, attr=0x2)))
        self.assertEqual([], check(made, nt_create(TMP, 5), set_attr(TMP, 0x2)))   # hidden only afterwards
        # Attributes are hexadecimal: 0x20 (archive) is not system, 0x22 is hidden.
        self.assertEqual([], check(made, set_attr(TMP, 0x20), nt_create(TMP, 5)))
        self.assertEqual(['R1'], check(made, set_attr(TMP, 0x22), nt_create(TMP, 4)))

    def test_r2_replacing_a_read_only_file(self):
        self.assertEqual(['R2'], check(set_attr(ARCHIVE, 0x1), win32('MoveFileWithProgressW', TMP, ARCHIVE, tail='0001')))
        self.assertEqual([], check(set_attr(ARCHIVE, 0x1), set_attr(ARCHIVE, 0x80),
                                   win32('MoveFileWithProgressW', TMP, ARCHIVE, tail='0001')))
        # A read-only source keeps its attribute through a copy, then blocks a replace.
        self.assertEqual(['R2'], check(set_attr(r'C:\s\a.dbx', 0x21), win32('CopyFileExW', r'C:\s\a.dbx', TMP),
                                       win32('MoveFileWithProgressW', r'C:\x.tmp', TMP, tail='0001')))

    def test_r3_trimmed_names_and_devices(self):
        for bad in (r'C:\Backup\{1}$J. Smith Jr.\Accounts.txt', 'C:\\Backup\\trailing \\a', r'C:\Backup\NUL.txt',
                    r'C:\Backup\com1', r'C:\Backup\aux .dat', r'C:\Backup\...'):
            self.assertEqual(['R3'], check(win32('CreateDirectoryW', bad)), bad)
        for good in (r'C:\Backup\.\a.txt', r'C:\Backup\..\a.txt', r'C:\Backup\console.txt', r'C:\Backup\COM10',
                     r'\\?\C:\Backup\trailing.', r'C:\Backup\.profile'):
            self.assertEqual([], check(win32('CreateFileW', good)), good)

    def test_r4_exclusive_read_of_a_file_not_made_by_the_run(self):
        store = r'C:\users\root\Local Settings\Application Data\Identities\Inbox.dbx'
        self.assertEqual(['R4'], check(nt_create(store, 1, access=0x80100080)))
        self.assertEqual([], check(nt_create(store, 1, access=0x80100080, sharing=1)))
        self.assertEqual([], check(nt_create(store, 1, access=0xc0100080)))   # a write open may be exclusive
        self.assertEqual([], check(nt_create(r'C:\Backup\dir', 1, access=0x80100080, options=0x21)))
        copy = r'C:\Backup\stage\Inbox.dbx'
        self.assertEqual([], check(win32('CopyFileExW', store, copy), nt_create(copy, 1, access=0x80100080)))
        self.assertEqual([], check(nt_create(TMP, 2), nt_create(TMP, 1, access=0x80100080)))

    def test_r5_deleting_read_only_files_and_folders(self):
        folder = r'C:\Backup\stage'
        self.assertEqual(['R5', 'R5'], check(set_attr(TMP, 0x21), win32('DeleteFileW', TMP),
                                             set_attr(folder, 0x11), win32('RemoveDirectoryW', folder)))
        self.assertEqual([], check(set_attr(TMP, 0x21), set_attr(TMP, 0x20), win32('DeleteFileW', TMP),
                                   set_attr(folder, 0x10), win32('RemoveDirectoryW', folder)))

    def test_r6_create_directory_beyond_248_characters(self):
        self.assertEqual(['R6'], check(win32('CreateDirectoryW', 'C:\\' + 'a' * 246)))
        self.assertEqual([], check(win32('CreateDirectoryW', 'C:\\' + 'a' * 245)))


class Files(unittest.TestCase):
    def run_main(self, text):
        with tempfile.NamedTemporaryFile('w', suffix='.trace', delete=False) as fh:
            fh.write(text)
        try:
            return winrules.main([fh.name])
        finally:
            os.unlink(fh.name)

    def test_status_tells_clean_faulty_and_untraced_runs_apart(self):
        self.assertEqual(0, self.run_main(win32('GetTempFileNameW', TMP)))
        self.assertEqual(1, self.run_main(set_attr(TMP, 0x2) + nt_create(TMP, 5)))
        self.assertEqual(2, self.run_main('wine: some other output\n'))


if __name__ == '__main__':
    unittest.main()

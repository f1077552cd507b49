#!/usr/bin/env python3
"""Builds the .deb from the build tree with cpack, unpacks it into a scratch root, checks its
layout and starts the unpacked program headless as an installed copy: its folder read-only, its
data folders in the user's data location.

Usage: tst_install.py <build dir> <embedded ini> <app folder name>"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

build_dir, config_ini, app_name = sys.argv[1:4]
scratch = tempfile.mkdtemp(prefix='corvid-install-')
root = os.path.join(scratch, 'root')


def check(condition, message):
    if not condition:
        subprocess.run(['chmod', '-R', 'u+w', scratch])
        sys.exit('FAIL: %s (kept %s)' % (message, scratch))


def ini_value(key):
    with open(config_ini, encoding='utf-8') as ini:
        return next(line.split('=', 1)[1].strip().strip('"') for line in ini
                    if line.startswith(key + '='))


def snapshot():
    entries = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            info = os.lstat(os.path.join(folder, name))
            entries[os.path.join(folder, name)] = (info.st_mode, info.st_size, info.st_mtime_ns)
    return entries


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


subprocess.run(['cpack', '-G', 'DEB', '-B', scratch], cwd=build_dir, check=True,
               stdout=subprocess.DEVNULL)
deb = [os.path.join(scratch, n) for n in os.listdir(scratch) if n.endswith('.deb')][0]
fields = run('dpkg-deb', '-f', deb, 'Depends', 'Section', 'Maintainer')
for needed in ('xdg-utils', 'libqt5webkit5', 'Section: web', 'Maintainer: '):
    check(needed in fields, 'control fields lack %r:\n%s' % (needed, fields))
run('dpkg-deb', '-x', deb, root)

link = os.readlink(os.path.join(root, 'usr/bin/corvid'))
check(not os.path.isabs(link), 'bin/corvid is not a relative link: ' + link)
program_dir = os.path.dirname(os.path.normpath(os.path.join(root, 'usr/bin', link)))
for path in ('corvid', 'html/index.html', 'icons/icon.ico', 'help/corvid.qhc', 'app/' + app_name):
    check(os.path.exists(os.path.join(program_dir, path)), 'missing ' + path)
stray = [p for p in snapshot() if os.path.basename(p) == 'src'
         or os.path.basename(p).startswith(('tst_', 'bench_', 'corvid_shellpeer'))]
check(not stray, 'test, benchmark or source files installed: %s' % stray)
desktop = os.path.join(root, 'usr/share/applications/corvid.desktop')
validation = subprocess.run(['desktop-file-validate', desktop], capture_output=True, text=True)
check(validation.returncode == 0 and not validation.stdout, validation.stdout + validation.stderr)
with open(desktop, encoding='utf-8') as entry:
    lines = entry.read().splitlines()
for line in ('Name=' + ini_value('app_title'), 'Exec=corvid %f', 'Icon=corvid'):
    check(line in lines, 'desktop entry lacks ' + line)
with open(os.path.join(root, 'usr/share/icons/hicolor/32x32/apps/corvid.png'), 'rb') as icon:
    check(icon.read(8) == b'\x89PNG\r\n\x1a\n', 'icon is not a PNG')

# The installed copy, started as a user would, with its user folders in the scratch folder.
run('chmod', '-R', 'a-w', os.path.join(root, 'usr'))
before = snapshot()
env = {k: v for k, v in os.environ.items() if k != 'LD_LIBRARY_PATH'}
env['QT_QPA_PLATFORM'] = 'offscreen'
for name in ('HOME', 'XDG_DATA_HOME', 'XDG_CONFIG_HOME', 'XDG_CACHE_HOME', 'XDG_RUNTIME_DIR',
             'TMPDIR'):
    env[name] = os.path.join(scratch, 'user', name)
    os.makedirs(env[name], mode=0o700)
data_dir = os.path.join(env['XDG_DATA_HOME'], ini_value('company_name'), ini_value('app_title'))
expected = [os.path.join(data_dir, folder) for folder in ('prefs', 'cache', 'storage')]
output = open(os.path.join(scratch, 'output'), 'w+')
shell = subprocess.Popen([os.path.join(root, 'usr/bin/corvid')], env=env, cwd=env['HOME'],
                         stdout=output, stderr=subprocess.STDOUT)
deadline = time.monotonic() + 120
while shell.poll() is None and time.monotonic() < deadline \
        and not all(map(os.path.isdir, expected)):
    time.sleep(0.1)
running = shell.poll() is None
shell.terminate()
shell.wait(timeout=60)
output.seek(0)
check(running, 'the installed program ended early:\n' + output.read())
check(all(map(os.path.isdir, expected)), 'data folders missing in ' + data_dir)
check(snapshot() == before, 'the program folder was written')

subprocess.run(['chmod', '-R', 'u+w', scratch], check=True)
shutil.rmtree(scratch)
print('PASS: package layout, desktop entry, icon, installed start')

"""The guest's initramfs: busybox, the programs with the C library and
loader they need, the kernel modules with their dependencies, the init and
the rows, as one uncompressed cpio (newc) archive."""

import lzma
import os
import re
import stat
import subprocess

# The USB gadgets on the dummy controllers, their functions (ACM, generic
# serial, FunctionFS), and the host's drivers for modems' AT ports; their
# dependencies come from each module's own "depends=".
MODULES = ['dummy_hcd', 'libcomposite', 'usb_f_acm', 'usb_f_serial', 'usb_f_fs', 'cdc_acm', 'qcserial', 'option']


class Archive:
    """A cpio newc archive, built in memory."""

    def __init__(self):
        self.data = bytearray()
        self.dirs = set()
        self.inode = 1

    def _entry(self, name: str, mode: int, body: bytes = b'') -> None:
        name_bytes = name.encode() + b'\0'
        fields = [self.inode, mode, 0, 0, 1, 0, len(body), 0, 0, 0, 0, len(name_bytes), 0]
        self.inode += 1
        self.data += b'070701' + b''.join(b'%08X' % f for f in fields) + name_bytes
        self.data += b'\0' * (-len(self.data) % 4) + body
        self.data += b'\0' * (-len(self.data) % 4)

    def directory(self, path: str) -> None:
        parent = os.path.dirname(path)
        if parent and parent not in self.dirs:
            self.directory(parent)
        if path not in self.dirs:
            self.dirs.add(path)
            self._entry(path, stat.S_IFDIR | 0o755)

    def file(self, path: str, body: bytes, mode: int = 0o755) -> None:
        path = path.lstrip('/')
        self.directory(os.path.dirname(path))
        self._entry(path, stat.S_IFREG | mode, body)

    def copy(self, source: str, path: str = None) -> None:
        with open(source, 'rb') as f:
            self.file(path or source, f.read())

    def finish(self) -> bytes:
        self._entry('TRAILER!!!', 0)
        return bytes(self.data)


def add_program(archive: Archive, program: str, path: str) -> None:
    """The program and the shared libraries ldd names for it (none for a
    static one), at their paths."""
    archive.copy(program, path)
    listing = subprocess.run(['ldd', program], capture_output=True, text=True).stdout
    for library in re.findall(r'(/\S+) \(0x', listing):
        archive.copy(os.path.realpath(library), library)


def decompressed(path: str) -> bytes:
    """A module's ELF image: Debian 12 ships .ko, later releases .ko.xz or .ko.zst."""
    if path.endswith('.xz'):
        with lzma.open(path) as f:
            return f.read()
    if path.endswith('.zst'):
        return subprocess.run(['zstd', '-dc', path], capture_output=True, check=True).stdout
    with open(path, 'rb') as f:
        return f.read()


def module_name(path: str) -> str:
    """kernel/drivers/usb/class/cdc-acm.ko.xz -> cdc_acm"""
    return re.sub(r'\.ko(\.xz|\.zst)?$', '', os.path.basename(path.strip())).replace('-', '_')


def module_files(kernel_root: str) -> dict:
    """Module name -> its file; None for one built into the kernel."""
    found = {}
    for root, _, files in os.walk(kernel_root):
        for name in files:
            if name == 'modules.builtin':
                with open(os.path.join(root, name)) as f:
                    found.update((module_name(line), None) for line in f if line.strip())
            elif re.search(r'\.ko(\.xz|\.zst)?$', name):
                found[module_name(name)] = os.path.join(root, name)
    return found


def load_order(kernel_root: str) -> list:
    """(name, image) for MODULES and their dependencies, dependencies first."""
    files = module_files(kernel_root)
    order, images = [], {}

    def visit(name):
        if name in images or (name in files and files[name] is None):
            return
        if name not in files:
            raise RuntimeError('kernel module %s not found under %s' % (name, kernel_root))
        images[name] = image = decompressed(files[name])
        depends = re.search(rb'\0depends=([^\0]*)\0', image)
        for dependency in (depends.group(1).decode().split(',') if depends else []):
            if dependency:
                visit(dependency.replace('-', '_'))
        order.append((name, image))

    for name in MODULES:
        visit(name)
    return order


def build(kernel_root: str, busybox: str, programs: dict, init: str, extra: dict) -> bytes:
    """`programs`: guest path -> host file; `extra`: guest path -> bytes."""
    archive = Archive()
    for path in ('dev', 'proc', 'sys', 'tmp', 'bin'):
        archive.directory(path)
    archive.copy(init, 'init')
    for path, program in dict(programs, **{'bin/busybox': busybox}).items():
        add_program(archive, program, path)
    # /lib/modules on Debian 12, /usr/lib/modules where /usr is merged.
    order = load_order(kernel_root)
    for name, image in order:
        archive.file('modules/%s.ko' % name, image, 0o644)
    archive.file('modules/order', ''.join(name + '\n' for name, _ in order).encode(), 0o644)
    for path, body in extra.items():
        archive.file(path, body, 0o644)
    return archive.finish()

"""How the benchmark runs a program: with its standard output and standard
error sent where a case says, timed, its CPU time and peak memory taken."""

import os
import subprocess
import time

# Where standard output and standard error go: each a pipe that the
# benchmark reads, a file, or /dev/null.
OUTPUTS = ('pipe', 'file', 'null')


class Modem:
    """modemsim on a pseudo-terminal, following `script` (its built-in
    answers when None); serves run after run until stopped."""

    def __init__(self, bindir, workdir, script=None):
        command = [os.path.join(bindir, 'modemsim'), '--idle-exit', '60']
        if script is not None:
            path = os.path.join(workdir, 'modem.txt')
            with open(path, 'wb') as f:
                f.write(script)
            command += ['--script', path, '--once']
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.port = self.process.stdout.readline().decode().strip()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()
        self.process.stdout.close()


def _targets(output, workdir):
    """The two descriptors the program gets and the pipe ends to drain
    (by cat: a reader that keeps up without taking the benchmark's time)."""
    if output == 'null':
        fd = os.open(os.devnull, os.O_WRONLY)
        return [fd, os.dup(fd)], []
    if output == 'file':
        return [os.open(os.path.join(workdir, name), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
                for name in ('stdout', 'stderr')], []
    pipes = [os.pipe() for _ in range(2)]
    return [w for _, w in pipes], [r for r, _ in pipes]


def run(command, output='null', workdir='/tmp', sample_memory=False):
    """Runs `command` to its end. Returns (elapsed s, exit status, CPU s,
    peak resident KiB or 0). Memory is sampled every 10 ms when asked
    (VmHWM: wait4's ru_maxrss would count the forked benchmark), which
    blurs the end time, so timed runs do not sample."""
    fds, readers = _targets(output, workdir)
    drains = [subprocess.Popen(['cat'], stdin=fd, stdout=subprocess.DEVNULL) for fd in readers]
    for fd in readers:
        os.close(fd)
    start = time.perf_counter()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=fds[0], stderr=fds[1])
    for fd in fds:
        os.close(fd)
    peak = 0
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG if sample_memory else 0)
        if pid:
            break
        peak = max(peak, _peak_memory_kib(process.pid))
        time.sleep(0.01)
    elapsed = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    for drain in drains:
        drain.wait()
    return elapsed, process.returncode, usage.ru_utime + usage.ru_stime, peak


def _peak_memory_kib(pid):
    try:
        with open('/proc/%d/status' % pid) as status:
            for line in status:
                if line.startswith('VmHWM:'):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0

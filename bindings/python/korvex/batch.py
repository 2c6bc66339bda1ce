"""Batches on Dask's distributed scheduler: the pipeline of ``korvex --batch``
run over inputs spread across the worker threads of a cluster.

    python3 -m korvex.batch [--scheduler tcp://HOST:8786] [--workers N] [--threads N]
                            [--chunk N] [--report FILE] [--no-progress] INPUTS... -- PIPELINE...

``{}`` in the pipeline is the input, ``{stem}`` its file name without extension.
Inputs travel in chunks of several, one Dask task each, so the scheduler's cost
per task is shared by the chunk's inputs. Each input runs on a new engine
created on the worker thread that runs its chunk (the engine and its per-thread
state never leave that thread). An input whose pipeline fails, or whose run
raises, is tried once more on its own; a worker that dies has its chunks run
again elsewhere by the scheduler. Every input gets one line of the report, the
JSON line ``korvex --batch --report`` writes. Without --scheduler a local
cluster of worker processes is started and stopped.

Workers import the module too: on a real cluster, start ``dask worker`` with
the module on its PYTHONPATH.
"""
import argparse
import functools
import itertools
import json
import os
import sys
import time

import korvex

__all__ = ["run", "run_one", "chunk_size", "main"]

# Inputs per task at most: a chunk that a dying worker takes with it is run
# again in full, and the progress and report advance a chunk at a time.
CHUNK_CAP = 32


def run_one(words, path, attempt=1, threads=None):
    """One input on the calling worker thread: the result dict of korvex.run_pipeline.

    The pixel loops of the pipeline use up to `threads` cores; None gives each
    thread of the worker running it an equal share of the machine's cores, so
    the worker threads of one machine do not start threads x cores band threads
    between them."""
    if threads is None:
        threads = _worker_share()
    return korvex.run_pipeline(words, path, attempt, threads)


def _worker_share():
    """Cores per thread of the Dask worker running the calling task (at least 1;
    0, every core, when the caller is no Dask worker)."""
    try:
        from distributed import get_worker
        nthreads = get_worker().state.nthreads
    except (ImportError, ValueError, AttributeError):  # not on a worker
        return 0
    return max(1, korvex.processor_count() // max(1, nthreads))


def _failed_task(path, attempt, error):
    """The result of a task that raised instead of returning (its worker lost, ...)."""
    result = {"input": path, "exit_code": 2, "status": None, "status_name": None,
              "outputs": [], "values": [], "seconds": 0.0, "attempts": attempt,
              "error": f"{type(error).__name__}: {error}"}
    keys = ("input", "status", "status_name", "outputs", "values", "seconds", "attempts", "error")
    result["report"] = json.dumps({k: result[k] for k in keys})
    return result


def run_chunk(task, words, paths, attempt=1):
    """Several inputs of a batch, one after another on the calling worker thread:
    the result of task(words, path, attempt) for each path, in order. An input
    whose run raises gets the result of a failed task, so it alone is tried
    again and the chunk's other inputs keep theirs."""
    results = []
    for path in paths:
        try:
            results.append(task(words, path, attempt))
        except Exception as error:  # noqa: BLE001  (reported for this input, then retried)
            results.append(_failed_task(path, attempt, error))
    return results


def chunk_size(total, threads, cap=CHUNK_CAP):
    """Inputs per task: about a quarter of each worker thread's share, so every
    thread gets several chunks and one that ends late holds up little; at
    least 1, at most `cap`. A batch of unknown length (total None) uses `cap`."""
    if total is None:
        return cap
    return max(1, min(cap, -(-total // (4 * max(1, threads)))))


def run(client, inputs, words, on_result=None, task=run_one, window=None, chunk=None):
    """Runs the pipeline `words` over `inputs` on a dask.distributed client.

    Inputs go to the workers in chunks of `chunk` (chunk_size's choice by
    default), each chunk one task that runs task(words, path, attempt) for
    its inputs in order. Calls on_result(result) once per input as its chunk
    finishes (after the input's retry, if any; a chunk's inputs in their
    order) and returns the results in that order. An input that fails is tried
    once more in a task of its own, submitted only once its chunk's results
    are in, so the retry never runs beside its chunk and writes the input's
    outputs at the same time; a chunk whose task is lost for good (its worker
    died too often, it was cancelled) has each of its inputs tried again that
    way. At most `window`
    tasks are queued at a time (four per worker thread by default), so a batch
    of millions of inputs does not flood the scheduler.
    """
    from distributed import as_completed

    korvex.parse_pipeline(words)  # a word that is no member stops here, not on every input
    threads = max(1, sum(client.nthreads().values()))
    if window is None:
        window = 4 * threads
    if chunk is None:
        chunk = chunk_size(len(inputs) if hasattr(inputs, "__len__") else None, threads)
    elif chunk < 1:
        raise ValueError(f"a chunk holds at least 1 input, not {chunk}")
    pending = iter(inputs)
    owner = {}  # future -> (inputs, attempt)
    # Results are fetched as tasks finish, in the client's own thread, not one
    # round trip at a time from this loop.
    queue = as_completed(with_results=True)

    def submit(paths, attempt):
        future = client.submit(run_chunk, task, words, paths, attempt, pure=False)
        owner[future] = (paths, attempt)
        queue.add(future)

    def fill():
        while len(owner) < window:
            paths = list(itertools.islice(pending, chunk))
            if not paths:
                return
            submit(paths, 1)

    fill()
    results = []
    for future, outcome in queue:
        paths, attempt = owner.pop(future)
        if future.status == "finished" and isinstance(outcome, list):
            chunk_results = outcome
        else:  # its worker lost too often, cancelled: every input of it failed
            chunk_results = [_failed_task(path, attempt, outcome) for path in paths]
        future.release()
        for path, result in zip(paths, chunk_results):
            if result["exit_code"] != 0 and attempt == 1:
                submit([path], 2)
                continue
            results.append(result)
            if on_result is not None:
                on_result(result)
        fill()
    return results


class _Progress:
    """Progress on stderr, as korvex --batch shows it: a bar redrawn in place on
    a terminal, else a plain line for each further whole percent done."""

    def __init__(self, total, enabled):
        self.total, self.start = total, time.monotonic()
        self.mode = "off" if not enabled else "bar" if sys.stderr.isatty() else "lines"
        self.last_draw, self.last_percent = 0.0, -1

    def figures(self, done, failed):
        rate = done / max(time.monotonic() - self.start, 1e-9)
        left = "-:--"
        if done:
            s = round((self.total - done) / rate)
            left = f"{s // 3600}:{s // 60 % 60:02}:{s % 60:02}" if s >= 3600 else f"{s // 60}:{s % 60:02}"
        return f"{rate:.1f}/s, {left} left, {failed} failed"

    def update(self, done, failed):
        last = done == self.total
        if self.mode == "bar":
            now = time.monotonic()
            if not last and now - self.last_draw < 0.1:
                return
            self.last_draw = now
            filled = done * 30 // self.total if self.total else 30
            sys.stderr.write(f"\r{done}/{self.total} [{'#' * filled}{' ' * (30 - filled)}] "
                             f"{self.figures(done, failed)}\033[K")
        elif self.mode == "lines":
            percent = done * 100 // self.total if self.total else 100
            if done == 0 or (percent == self.last_percent and not last):
                return
            self.last_percent = percent
            sys.stderr.write(f"korvex: {done}/{self.total} inputs, {self.figures(done, failed)}\n")
        sys.stderr.flush()

    def clear(self):
        if self.mode == "bar":
            sys.stderr.write("\r\033[K")

    def finish(self):
        if self.mode == "bar" and self.last_draw:
            sys.stderr.write("\n")


def _keep_freed_pixels_in_workers():
    """Dask starts its workers with MALLOC_TRIM_THRESHOLD_ set, which also fixes
    glibc's mmap threshold at 128 KiB: every decoded picture then gets freshly
    mapped pages that the kernel zeroes and faults in one by one (about 25 times
    the page faults of korvex --batch, an eighth more processor time per photo).
    Without it, freed pixel buffers are reused for the next input. Workers of
    the local cluster hold no Dask data, so there is nothing to trim for."""
    import dask
    import distributed  # noqa: F401  (loads its configuration)

    key = "distributed.nanny.pre-spawn-environ"
    environ = dict(dask.config.get(key, default={}))
    if environ.pop("MALLOC_TRIM_THRESHOLD_", None) is not None:
        dask.config.set({key: environ})


def _fork_workers_from_one_loaded_process():
    """Dask spawns each worker as a new interpreter that imports Dask and its
    dependencies again: a second or more of processor time per worker, longer
    than a batch of a few dozen photos takes on two cores, so more workers made
    a small batch slower. A fork server imports them once and forks each worker
    from that process. A method set in Dask's configuration is kept."""
    import dask
    import distributed  # noqa: F401  (loads its configuration)

    key = "distributed.worker.multiprocessing-method"
    if dask.config.get(key, default="spawn") == "spawn" and \
            "DASK_DISTRIBUTED__WORKER__MULTIPROCESSING_METHOD" not in os.environ:
        dask.config.set({key: "forkserver"})
    if dask.config.get(key) == "forkserver":
        # The fork server imports the library too, with the codec libraries
        # it links, so no worker loads and relocates them again. Dask's own
        # list of modules to import comes first.
        import multiprocessing.forkserver
        from distributed.utils import get_mp_context

        context = get_mp_context()
        modules = getattr(multiprocessing.forkserver._forkserver, "_preload_modules", None)
        if modules is not None and "korvex" not in modules:
            context.set_forkserver_preload([*modules, "korvex"])


def _parse(argv):
    split = argv.index("--") if "--" in argv else len(argv)
    parser = argparse.ArgumentParser(
        prog="python3 -m korvex.batch", description=__doc__.split("\n\n")[0],
        usage="%(prog)s [options] INPUTS... -- -Member [args...]...")
    parser.add_argument("--scheduler", help="address of a running scheduler, tcp://HOST:8786")
    parser.add_argument("--workers", type=int, default=None,
                        help="local cluster: worker processes (default: one per core)")
    parser.add_argument("--threads", type=int, default=1,
                        help="local cluster: threads per worker (default 1)")
    parser.add_argument("--chunk", type=int, default=None,
                        help="inputs per task (default: a quarter of each worker thread's "
                             f"share, at most {CHUNK_CAP})")
    parser.add_argument("--report", help="write one JSON line per input as it finishes")
    parser.add_argument("--no-progress", action="store_true", help="no progress on stderr")
    parser.add_argument("inputs", nargs="+")
    args = parser.parse_args(argv[:split])
    args.pipeline = argv[split + 1:]
    if not args.pipeline:
        parser.error("needs inputs, --, and a pipeline")
    if args.chunk is not None and args.chunk < 1:
        parser.error("--chunk needs at least 1 input per task")
    return args


def main(argv=None):
    args = _parse(sys.argv[1:] if argv is None else argv)
    try:
        korvex.parse_pipeline(args.pipeline)
    except korvex.DispatchError as error:
        print(error, file=sys.stderr)
        return 2
    try:
        report = open(args.report, "w", encoding="utf-8") if args.report else None
    except OSError as error:
        print(f"korvex.batch: cannot write the report {args.report}: {error}", file=sys.stderr)
        return 2

    from distributed import Client, LocalCluster

    # The task is korvex.batch.run_one, which workers import, even when this
    # file runs as __main__.
    from korvex.batch import run as run_batch, run_one as task

    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        # One worker process per core by default; the pixel loops of each
        # input then share the cores among the worker threads of this machine.
        workers = args.workers or korvex.processor_count()
        share = max(1, korvex.processor_count() // max(1, workers * args.threads))
        task = functools.partial(task, threads=share)
        _keep_freed_pixels_in_workers()
        _fork_workers_from_one_loaded_process()
        cluster = LocalCluster(n_workers=workers, threads_per_worker=args.threads,
                               processes=True, dashboard_address=None)
        client = Client(cluster)
    progress = _Progress(len(args.inputs), not args.no_progress)
    failures = []
    done = 0

    def on_result(result):
        nonlocal done
        done += 1
        if report is not None:
            report.write(result["report"] + "\n")
            report.flush()
        if result["values"]:
            if sys.stdout.isatty():
                progress.clear()
            print(f"{result['input']}: " + "\n  ".join(result["values"]), flush=True)
        if result["exit_code"] != 0:
            failures.append(result)
        progress.update(done, len(failures))

    progress.update(0, 0)
    try:
        run_batch(client, args.inputs, args.pipeline, on_result, task=task, chunk=args.chunk)
    finally:
        progress.finish()
        client.close()
        if cluster is not None:
            cluster.close()
        if report is not None:
            report.close()
    seconds = time.monotonic() - progress.start
    total = len(args.inputs)
    print(f"{total - len(failures)} of {total} inputs done, {len(failures)} failed "
          f"({seconds:.1f} s, {total / max(seconds, 1e-9):.1f} inputs/s)", file=sys.stderr)
    for result in failures[:50]:
        print(f"  {result['input']}: {result['error']} (tried {result['attempts']} times)",
              file=sys.stderr)
    if len(failures) > 50:
        print(f"  ... and {len(failures) - 50} more", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

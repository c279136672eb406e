'use strict';
// Fair and bounded concurrency: each kind of call (searches, reads, edits)
// has a lane of its own with a stated number of calls that run at once and a
// stated number that may wait, first come first served. A lane never waits
// behind another, so a read is answered while every search slot is taken; a
// call that finds its lane's queue full is refused at once, and one whose
// time limit passes while it waits is answered with that. A slot is given
// back only when the library call in it has returned (not when its caller
// stopped waiting for it), so the lanes' counts are the pool threads the
// library really uses: together they stay below the pool's size.

/** A call refused or ended before it ran; its message is what the assistant reads. */
class NotRun extends Error {}

class Lane {
  /** `name`: the calls' plural for messages ("searches"); `running`, `waiting`: the bounds. */
  constructor(name, running, waiting) {
    this.name = name;
    this.maxRunning = running;
    this.maxWaiting = waiting;
    this.running = 0;
    this.queue = [];  // { grant, fail, timer } in arrival order
    this.closed = false;
  }

  /**
   * Resolves to a release function once a slot is free; rejects with NotRun
   * when the queue is full, the lane is closed, or `deadline` (a Date.now()
   * value, optional) passes first.
   */
  acquire(deadline) {
    if (this.closed) return Promise.reject(new NotRun('The server is stopping'));
    if (this.running < this.maxRunning) {
      ++this.running;
      return Promise.resolve(this.releaser());
    }
    if (this.queue.length >= this.maxWaiting) {
      return Promise.reject(new NotRun(`The server is busy: ${this.running} ${this.name} are ` +
        `running and ${this.queue.length} waiting, the most it takes at once; try again when ` +
        'one has answered'));
    }
    return new Promise((grant, fail) => {
      const entry = { grant, fail, timer: null };
      if (deadline !== undefined) {
        entry.timer = setTimeout(() => {
          this.queue.splice(this.queue.indexOf(entry), 1);
          fail(new NotRun(`The call waited its whole time limit for one of the ${this.maxRunning} ` +
            `${this.name} running before it; try again, or narrow the ${this.name}`));
        }, Math.max(0, deadline - Date.now()));
      }
      this.queue.push(entry);
    });
  }

  /** The function that gives the slot back (once) to the next waiting call, or frees it. */
  releaser() {
    let released = false;
    return () => {
      if (released) return;
      released = true;
      const next = this.queue.shift();
      if (next === undefined) {
        --this.running;
        return;
      }
      clearTimeout(next.timer);
      next.grant(this.releaser());
    };
  }

  /** Refuses every waiting call and every later one. */
  close() {
    this.closed = true;
    for (const entry of this.queue.splice(0)) {
      clearTimeout(entry.timer);
      entry.fail(new NotRun('The server is stopping'));
    }
  }

  /** Resolves once no call runs in the lane. */
  async idle() {
    while (this.running > 0) await new Promise((resolve) => setTimeout(resolve, 5));
  }
}

module.exports = { Lane, NotRun };

// The page's side of the worker protocol (web/PROTOCOL.md): every request
// gets an id and a promise; streamed answers (zip) go to a callback.
export class WorkerClient {
  constructor(worker) {
    this.worker = worker;
    this.nextId = 1;
    this.pending = new Map();
    worker.onmessage = (event) => this.receive(event.data);
    // A worker that fails (out of memory, say) answers nothing more: every
    // request, waiting or new, says so at once instead of hanging.
    this.failure = null;
    worker.onerror = (event) => {
      this.failure = `the viewer's worker stopped (${event.message || 'unknown error'}); reload the page`;
      this.failAll(this.failure);
    };
  }

  receive(message) {
    const request = this.pending.get(message.id);
    if (!request) return; // cancelled, or answered already
    if (request.onPart) {
      if (!message.ok && !message.path) {
        this.pending.delete(message.id);
        request.reject(new Error(message.error));
      } else if (message.done) {
        this.pending.delete(message.id);
        request.resolve(message);
      } else {
        request.onPart(message);
      }
      return;
    }
    this.pending.delete(message.id);
    if (message.ok) request.resolve(message);
    else request.reject(new Error(message.error));
  }

  failAll(error) {
    for (const request of this.pending.values()) request.reject(new Error(error));
    this.pending.clear();
  }

  // Sends one request; returns {id, promise}. onPart receives the parts of
  // a streamed answer.
  send(op, args = {}, transfer = [], onPart = null) {
    const id = this.nextId++;
    if (this.failure) return { id, promise: Promise.reject(new Error(this.failure)) };
    const promise = new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, onPart });
    });
    this.worker.postMessage({ id, op, ...args }, transfer);
    return { id, promise };
  }

  request(op, args) {
    return this.send(op, args).promise;
  }

  // Drops a request: a queued one is not done, and its answer is ignored.
  cancel(id) {
    if (!this.pending.has(id)) return;
    this.pending.delete(id);
    this.worker.postMessage({ op: 'cancel', id });
  }
}

// Reads at any offset of a large file. This emscripten's own pread takes
// only the low 32 bits of the offset, as a signed number, so every read
// past 2 GiB failed or landed elsewhere: a 2 GiB archive could not be
// listed. Linked after the system libraries, this one takes its place.
mergeInto(LibraryManager.library, {
  fd_pread__deps: ['$SYSCALLS'],
  fd_pread__sig: 'iiiiiii',
  fd_pread: function(fd, iov, iovcnt, {{{ defineI64Param('offset') }}}, pnum) {
    {{{ receiveI64ParamAsI32s('offset') }}}
    try {
      var offset = (offset_high >>> 0) * 4294967296 + (offset_low >>> 0);
      var stream = SYSCALLS.getStreamFromFD(fd);
      var num = SYSCALLS.doReadv(stream, iov, iovcnt, offset);
      {{{ makeSetValue('pnum', 0, 'num', 'i32') }}};
      return 0;
    } catch (e) {
      if (typeof FS == 'undefined' || !(e instanceof FS.ErrnoError)) throw e;
      return e.errno;
    }
  },
});

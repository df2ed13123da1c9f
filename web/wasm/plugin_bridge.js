// The other half of plugin_bridge.cpp, linked into the host module: a host
// call to a plug-in export, carried into that plug-in's own module. The
// worker sets Module.zorvPlugins = [picture module, archive module] before
// the first call. Arguments are copied into the plug-in's memory; blocks it
// hands over are copied into blocks of this module's stand-in and freed in
// the plug-in's, so that each module only ever frees its own blocks.
mergeInto(LibraryManager.library, {
  zorv_bridge_call: function (moduleIndex, fn, source, length, flags, position, out1, out2) {
    var plugin = Module.zorvPlugins[moduleIndex];
    var IS_SUPPORTED = 0, GET_PICTURE = 1, GET_PICTURE_INFO = 2, GET_ARCHIVE_INFO = 3, GET_FILE = 4;
    var SOURCE_IN_MEMORY = 1, NO_MEMORY = 4, OK = 0;
    var PROBE_BYTES = 2048, RECORD_BYTES = 26;
    var allocations = [];
    function pluginAlloc(size) {
      var at = plugin._malloc(Math.max(size, 1));
      if (!at) throw new Error('out of memory');
      allocations.push(at);
      return at;
    }
    function copyIn(from, size) {
      var at = pluginAlloc(size);
      plugin.HEAPU8.set(HEAPU8.subarray(from, from + size), at);
      return at;
    }
    function copyString(from) {
      var end = from;
      while (HEAPU8[end] !== 0) ++end;
      var at = pluginAlloc(end - from + 1);
      plugin.HEAPU8.set(HEAPU8.subarray(from, end + 1), at);
      return at;
    }
    // A block the plug-in handed over, as a block of ours; 0 when ours
    // cannot be had. The plug-in's block is freed either way.
    function takeOver(handle) {
      var size = plugin._GlobalSize(handle) >>> 0;
      var ours = _GlobalAlloc(2 /* GMEM_MOVEABLE */, size);
      if (ours && size > 0) {
        var from = plugin._GlobalLock(handle);
        var to = _GlobalLock(ours);
        if (from && to) HEAPU8.set(plugin.HEAPU8.subarray(from, from + size), to);
        else { _GlobalFree(ours); ours = 0; }
        if (to) _GlobalUnlock(ours);
        if (from) plugin._GlobalUnlock(handle);
      }
      plugin._GlobalFree(handle);
      return ours;
    }
    // Listing an archive probes each of up to 65,535 entries with the same
    // path: the path and the probe's buffer stay in the plug-in's memory
    // between calls instead of being allocated for each.
    function probeCall() {
      var cache = plugin.zorvProbe || (plugin.zorvProbe = { path: null, pathAt: 0, bufferAt: 0 });
      var end = source;
      while (HEAPU8[end] !== 0) ++end;
      var path = HEAPU8.subarray(source, end + 1);
      var same = cache.path !== null && cache.path.length === path.length;
      for (var i = 0; same && i < path.length; ++i) same = cache.path[i] === path[i];
      if (!same) {
        if (cache.pathAt) plugin._free(cache.pathAt);
        cache.path = null;
        cache.pathAt = plugin._malloc(path.length);
        if (!cache.pathAt) return 0;
        plugin.HEAPU8.set(path, cache.pathAt);
        cache.path = path.slice();
      }
      var probe = out1;
      if (out1 >>> 0 >= 0x10000) {
        if (!cache.bufferAt) cache.bufferAt = plugin._malloc(PROBE_BYTES);
        if (!cache.bufferAt) return 0;
        plugin.HEAPU8.set(HEAPU8.subarray(out1, out1 + PROBE_BYTES), cache.bufferAt);
        probe = cache.bufferAt;
      }
      return plugin._IsSupported(cache.pathAt, probe);
    }
    try {
      if (fn === IS_SUPPORTED) return probeCall();
      var src = (flags & SOURCE_IN_MEMORY) ? copyIn(source, length) : copyString(source);
      if (fn === GET_PICTURE_INFO) {
        var record = pluginAlloc(RECORD_BYTES);
        var result = plugin._GetPictureInfo(src, length, flags, record);
        if (result === OK) HEAPU8.set(plugin.HEAPU8.subarray(record, record + RECORD_BYTES), out1);
        return result;
      }
      var slots = pluginAlloc(8);
      plugin.HEAP32[slots >> 2] = 0;
      plugin.HEAP32[(slots >> 2) + 1] = 0;
      var answer;
      if (fn === GET_PICTURE) answer = plugin._GetPicture(src, length, flags, slots, slots + 4, 0, 0);
      else if (fn === GET_ARCHIVE_INFO) answer = plugin._GetArchiveInfo(src, length, flags, slots);
      else answer = plugin._GetFile(src, position, slots, flags, 0, 0);
      var handed = [plugin.HEAP32[slots >> 2], plugin.HEAP32[(slots >> 2) + 1]];
      var outs = [out1, out2];
      var taken = [0, 0];
      for (var i = 0; i < 2; ++i) {
        if (!handed[i]) continue;
        if (answer !== OK || !outs[i]) { plugin._GlobalFree(handed[i]); continue; }
        taken[i] = takeOver(handed[i]);
        if (!taken[i]) answer = NO_MEMORY;
      }
      for (var j = 0; j < 2; ++j) {
        if (!outs[j]) continue;
        if (answer === OK) HEAP32[outs[j] >> 2] = taken[j];
        else if (taken[j]) _GlobalFree(taken[j]);
      }
      return answer;
    } catch (e) {
      return NO_MEMORY;
    } finally {
      for (var k = 0; k < allocations.length; ++k) plugin._free(allocations[k]);
    }
  },
});

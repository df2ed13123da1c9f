// Saves bytes as a download under the given name. The object URL lives a
// minute, long enough for the browser to take the file.
export function save(name, blob) {
  const url = URL.createObjectURL(blob);
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  link.hidden = true;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
}

// Saves a stream: into the file the person chose (written as it comes),
// else gathered into a Blob and saved as a download.
export async function saveStream(name, stream, handle) {
  if (handle) {
    await stream.pipeTo(await handle.createWritable());
    return;
  }
  save(name, await new Response(stream).blob());
}

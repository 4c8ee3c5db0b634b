// A song carried in the link itself: the source, deflated and written in
// base64url after "#song=" (and its file name after "name="), so a song can be
// shared without any server. Reading a link never trusts it: wrong letters,
// broken data or a text that inflates too far give an error, never a hang.

export const MAX_SOURCE_BYTES = 1 << 20;

function toBase64Url(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  }
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function fromBase64Url(text) {
  if (!/^[A-Za-z0-9_-]*$/.test(text)) throw new Error('the link holds letters that are no song data');
  const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
  return Uint8Array.from(binary, (c) => c.charCodeAt(0));
}

async function collect(stream, limit) {
  const reader = stream.getReader();
  const parts = [];
  let size = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    size += value.length;
    if (size > limit) {
      await reader.cancel();
      throw new Error(`the song in the link is larger than ${limit} bytes`);
    }
    parts.push(value);
  }
  const all = new Uint8Array(size);
  let at = 0;
  for (const part of parts) {
    all.set(part, at);
    at += part.length;
  }
  return all;
}

async function pipe(bytes, transform, limit) {
  const writer = transform.writable.getWriter();
  const written = writer.write(bytes).then(() => writer.close());
  written.catch(() => {}); // the reader below reports the failure
  const result = await collect(transform.readable, limit);
  await written;
  return result;
}

// The fragment (without '#') that carries the source bytes.
export async function encodeSong(sourceBytes, fileName) {
  const packed = await pipe(sourceBytes, new CompressionStream('deflate-raw'), Infinity);
  return `name=${encodeURIComponent(fileName)}&song=${toBase64Url(packed)}`;
}

// {fileName, source} from a fragment, null when it carries no song, or throws
// an Error whose message says what is wrong with the link.
export async function decodeSong(fragment) {
  const fields = new URLSearchParams(fragment.replace(/^#/, ''));
  const data = fields.get('song');
  if (data === null) return null;
  const fileName = (fields.get('name') || 'shared.qvm').replace(/[^\w.-]/g, '_').slice(0, 64);
  let source;
  try {
    source = await pipe(fromBase64Url(data), new DecompressionStream('deflate-raw'), MAX_SOURCE_BYTES);
  } catch (error) {
    throw new Error(`the link does not carry a readable song (${error.message})`);
  }
  return { fileName, source };
}

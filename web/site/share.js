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

// The bytes go in a piece at a time, each once the reader has taken what the
// last gave: a piece of deflated data inflates to at most about 1,000 times
// its size, so a link that would inflate past the limit is refused after
// little more than the limit, not after all of it. A refusal tells in `fed`
// how many of the bytes went in.
const PIECE_BYTES = 512;

async function pipe(bytes, transform, limit) {
  const writer = transform.writable.getWriter();
  let fed = 0;
  const feeding = (async () => {
    for (; fed < bytes.length; fed += PIECE_BYTES) {
      await writer.ready;
      await writer.write(bytes.subarray(fed, fed + PIECE_BYTES));
    }
    await writer.close();
  })();
  feeding.catch(() => {}); // the reader below reports the failure
  try {
    const result = await collect(transform.readable, limit);
    await feeding;
    return result;
  } catch (error) {
    error.fed = Math.min(fed, bytes.length);
    throw error;
  }
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
    throw Object.assign(new Error(`the link does not carry a readable song (${error.message})`), { fed: error.fed });
  }
  return { fileName, source };
}

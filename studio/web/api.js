// SPDX-License-Identifier: MIT
// The studio's API as the page calls it: same origin, the token from the page's own URL.

const token = new URLSearchParams(location.search).get("token") ?? "";

// A file of the page fetched by the browser itself (a worklet): the token goes in the query.
export const withToken = (name) => `${name}?token=${encodeURIComponent(token)}`;

export class ApiError extends Error {}

async function call(path, init = {}) {
  const headers = {"X-Kvx-Token": token, ...(init.body ? {"Content-Type": "application/json"} : {})};
  const response = await fetch(path, {...init, headers});
  let body;
  try {
    body = await response.json();
  } catch {
    throw new ApiError(`${path}: HTTP ${response.status}, not JSON`);
  }
  if (!response.ok) throw new ApiError(body.error ?? `${path}: HTTP ${response.status}`);
  return body;
}

export const getSubject = () => call("/api/subject");

export const postRender = (request, signal) =>
  call("/api/render", {method: "POST", body: JSON.stringify(request), signal});

export const postPreset = (request) =>
  call("/api/preset", {method: "POST", body: JSON.stringify(request)});

// A track's samples arrive as base64 of little-endian float32; the bytes are kept as they are.
export function decodeSamples(base64) {
  const text = atob(base64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
  const view = new DataView(bytes.buffer);
  const samples = new Float32Array(bytes.length / 4);
  for (let i = 0; i < samples.length; ++i) samples[i] = view.getFloat32(4 * i, true);
  return samples;
}

// Reference model of text normalisation, built on the JavaScript engine's own Unicode support
// (ICU). Reads length-prefixed UTF-8 records (4-byte little-endian length, then the bytes) from
// stdin and writes the normalised records in the same framing to stdout.
"use strict";

const TRIM = /^\p{White_Space}+|\p{White_Space}+$/gu;
const MARK = /\p{M}/gu;

function normalize(text) {
  return text.replace(TRIM, "").toLowerCase().normalize("NFD").replace(MARK, "").normalize("NFC");
}

function main() {
  const fs = require("fs");
  const chunks = [];
  const fd = 0;
  const buffer = Buffer.alloc(1 << 20);
  for (;;) {
    let count;
    try {
      count = fs.readSync(fd, buffer, 0, buffer.length, null);
    } catch (error) {
      if (error.code === "EAGAIN") continue;
      if (error.code === "EOF") break;
      throw error;
    }
    if (count === 0) break;
    chunks.push(Buffer.from(buffer.subarray(0, count)));
  }
  const input = Buffer.concat(chunks);
  const results = [];
  let total = 0;
  for (let pos = 0; pos < input.length;) {
    if (input.length - pos < 4) throw new Error(`truncated length at byte ${pos}`);
    const size = input.readUInt32LE(pos);
    pos += 4;
    if (input.length - pos < size) throw new Error(`truncated record at byte ${pos}`);
    const result = normalize(input.toString("utf8", pos, pos + size));
    pos += size;
    results.push(result);
    total += 4 + Buffer.byteLength(result, "utf8");
  }
  const data = Buffer.alloc(total);
  let offset = 0;
  for (const result of results) {
    const size = data.write(result, offset + 4, "utf8");
    data.writeUInt32LE(size, offset);
    offset += 4 + size;
  }
  for (let written = 0; written < data.length;) {
    try {
      written += fs.writeSync(1, data, written, data.length - written);
    } catch (error) {
      if (error.code !== "EAGAIN") throw error;
    }
  }
}

main();

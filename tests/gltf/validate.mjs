// Validates glTF files with the Khronos glTF Validator: prints each file's errors and warnings
// and exits 1 when any file has one (information and hints are allowed).
// Usage: node tests/gltf/validate.mjs FILE...
import { readFile } from 'node:fs/promises';
import path from 'node:path';
import validator from 'gltf-validator';

let failed = false;
for (const file of process.argv.slice(2)) {
  const bytes = new Uint8Array(await readFile(file));
  const report = await validator.validateBytes(bytes, {
    uri: path.basename(file),
    maxIssues: 0,
    externalResourceFunction: (uri) =>
      readFile(path.join(path.dirname(file), decodeURIComponent(uri))).then((b) => new Uint8Array(b)),
  });
  const { numErrors, numWarnings, numInfos, messages } = report.issues;
  console.log(`${file}: ${numErrors} errors, ${numWarnings} warnings, ${numInfos} infos`);
  for (const message of messages) {
    if (message.severity <= 1) {
      console.log(`  ${message.severity === 0 ? 'error' : 'warning'} ${message.code} ${message.pointer ?? ''}: ${message.message}`);
    }
  }
  if (numErrors > 0 || numWarnings > 0) failed = true;
}
process.exit(failed ? 1 : 0);

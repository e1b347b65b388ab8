// Assembles the page into one self-contained file: the style and the script
// inline, and the worker (the compiled core, the zip library, then
// worker.js) as base64, so that the page works from a file as from any
// server and fetches nothing.
// Usage: node build-page.mjs CORE.js OUT.html
import { existsSync, readFileSync, writeFileSync } from 'node:fs';

const [core, out] = process.argv.slice(2);
const read = (name) => readFileSync(new URL(name, import.meta.url), 'utf8');
// fflate, as web/package-lock.json pins it (npm ci in web/ installs it): its
// browser build, which sets self.fflate in the worker.
const zipLibrary = new URL('node_modules/fflate/umd/index.js', import.meta.url);
if (!existsSync(zipLibrary)) {
  console.error(`build-page.mjs: ${zipLibrary.pathname} is missing: run npm ci in web/`);
  process.exit(1);
}
const worker = `${readFileSync(core, 'utf8')}\n${readFileSync(zipLibrary, 'utf8')}\n${read('worker.js')}`;
const page = read('index.html')
  .replace('/*STYLE*/', () => read('style.css'))
  .replace('<!--WORKER-->', () =>
    `<script type="application/octet-stream" id="worker-source">${Buffer.from(worker).toString('base64')}</script>`)
  .replace('/*APP*/', () => read('app.js'));
writeFileSync(out, page);

// The worker of the extension's test build (scripts/build_extension.py
// test): the extension's own, and the menu's handler where the end-to-end
// tests can call it, as a headless browser shows no menu. Its presence also
// tells them that the worker has run.
import './background.js';
import { downloadWith } from './send.js';

globalThis.downloadWith = downloadWith;

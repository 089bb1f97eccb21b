// The task script parsed with tree-sitter's PowerShell grammar, since no PowerShell runs here: it
// passes with no ERROR or MISSING node, and only if a copy without any one of its braces fails.
//   node parse_task_script.mjs MODULES-FOLDER SCRIPT
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';
import v8 from 'node:v8';

v8.setFlagsFromString('--liftoff-only');  // optimising the grammar's parse tables takes minutes
const [modules, script] = process.argv.slice(2);
const { Parser, Language } = createRequire(`${modules}/package.json`)('web-tree-sitter');
await Parser.init();
const parser = new Parser();
parser.setLanguage(await Language.load(
  `${modules}/node_modules/tree-sitter-powershell/tree-sitter-powershell.wasm`));
const text = readFileSync(script, 'utf8');
const root = parser.parse(text).rootNode;
const firstBad = (node) => (node.isError || node.isMissing ? node : node.children.map(firstBad).find(Boolean));
const bad = root.hasError && firstBad(root);
const braces = root.descendantsOfType(['{', '}']).map((node) => node.startIndex);
const unnoticed = braces.filter((at) => !parser.parse(text.slice(0, at) + text.slice(at + 1)).rootNode.hasError);
if (bad) console.log(`${script}:${bad.startPosition.row + 1}: ${bad.isMissing ? 'missing' : 'cannot parse'} ${bad.type}`);
if (!braces.length || unnoticed.length) console.log(`a removed brace goes unnoticed (of ${braces.length}) at ${unnoticed}`);
if (!bad && braces.length && !unnoticed.length) console.log(`${script}: parsed; the removal of any of its ${braces.length} braces is noticed`);
process.exit(bad || !braces.length || unnoticed.length ? 1 : 0);

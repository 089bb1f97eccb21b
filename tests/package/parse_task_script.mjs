// The task script parsed with tree-sitter's PowerShell grammar, since no PowerShell runs here:
// it passes with no ERROR or MISSING node, and a copy with any one brace removed must fail.
//   node parse_task_script.mjs MODULES-FOLDER SCRIPT
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import v8 from 'node:v8';

v8.setFlagsFromString('--liftoff-only');  // optimising the grammar's parse tables takes minutes
const [modules, script] = process.argv.slice(2);
const { Parser, Language } = createRequire(join(modules, 'package.json'))('web-tree-sitter');
await Parser.init();
const parser = new Parser();
parser.setLanguage(await Language.load(
  join(modules, 'node_modules/tree-sitter-powershell/tree-sitter-powershell.wasm')));
const text = readFileSync(script, 'utf8');
const tree = parser.parse(text);
const braces = tree.rootNode.descendantsOfType(['{', '}']).map((node) => node.startIndex);
const unnoticed = braces.filter((at) =>
  !parser.parse(text.slice(0, at) + text.slice(at + 1)).rootNode.hasError);
const problems = [];
const firstBad = (node) => (node.isError || node.isMissing ? node : node.children.map(firstBad).find(Boolean));
if (tree.rootNode.hasError) {
  const bad = firstBad(tree.rootNode);
  problems.push(`${script}:${bad.startPosition.row + 1}: ${bad.isMissing ? 'missing' : 'cannot parse'} ${bad.type}`);
}
if (braces.length === 0 || unnoticed.length > 0) {
  problems.push(`the check misses a removed brace (of ${braces.length}) at ${unnoticed}`);
}
console.log(problems.length ? problems.join('\n') : `${script}: parsed; ${braces.length} braces, each one's removal noticed`);
process.exit(problems.length ? 1 : 0);

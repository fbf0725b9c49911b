// node-opcua client for the OPC UA server bench. Against two servers at once
// (Plexmar's first, then node-opcua's), each holding the Variables
// ns=1;s=Bench.B0 .. B<n-1> that all change once a second, it measures:
//   ROUNDTRIPS <a> <b> <count a> <count b>
//                        Reads of one node per second, each awaited, and how
//                        many were done
//   BATCH <a> <b> <count a> <count b>
//                        nodes per second in Reads of 1000 nodes, each
//                        awaited, and how many nodes were read
//   RATE <a> <b>         data changes per second of one subscription over all
//                        n nodes (publishing 250 ms, sampling 250 ms, queue
//                        1), counted for <count> seconds after <settle>
// The read figures take turns in short slices, so that a machine whose load
// changes during the run weighs on both servers alike; "BEGIN" and "END"
// frame each of the two read phases, "IDLE" and "IDLED" a span after them
// in which the client asks nothing. The subscriptions run
// one server after the other; "COUNTING <k>" and "COUNTED <k>" frame the
// window of server k (0 or 1), so that the caller can take that server's CPU
// time over the same span.
//   node opcserver_peer.js <url a> <url b> <n> <read seconds> <settle> <count>
"use strict";
const opcua = require("node-opcua");
const [urlA, urlB] = [process.argv[2], process.argv[3]];
const [n, readSeconds, settle, count] = process.argv.slice(4, 8).map(Number);

const say = (line) => process.stdout.write(line + "\n");
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const node = (i) => ({ nodeId: "ns=1;s=Bench.B" + i, attributeId: opcua.AttributeIds.Value });
const now = () => Number(process.hrtime.bigint()) / 1e9;
const kSlice = 0.5;

async function open(url) {
  const client = opcua.OPCUAClient.create({ endpointMustExist: false, securityMode: opcua.MessageSecurityMode.None,
    securityPolicy: opcua.SecurityPolicy.None, requestedSessionTimeout: 120000,
    connectionStrategy: { maxRetry: 3, initialDelay: 200, maxDelay: 1000 } });
  await client.connect(url);
  const session = await client.createSession();
  return { client, session };
}

// Runs `step` (which returns how many it did) against each session in turn,
// `kSlice` seconds at a time, until each had `seconds`; per second for each.
async function inTurns(sessions, seconds, step) {
  const done = sessions.map(() => 0), spent = sessions.map(() => 0);
  for (let slice = 0; slice * kSlice < seconds; ++slice) {
    for (let k = 0; k < sessions.length; ++k) {
      const start = now();
      while (now() - start < kSlice) done[k] += await step(sessions[k], done[k]);
      spent[k] += now() - start;
    }
  }
  return done.map((d, k) => (d / spent[k]).toFixed(0)).concat(done);
}

async function main() {
  const peers = [await open(urlA), await open(urlB)];
  const sessions = peers.map((p) => p.session);
  const readOne = async (s, done) => {
    const dv = await s.read(node(done % n));
    if (dv.statusCode !== opcua.StatusCodes.Good) throw new Error("read " + dv.statusCode.name);
    return 1;
  };
  // Untimed first, so that node-opcua's code is compiled on both sides
  // before anything counts.
  await inTurns(sessions, 3, readOne);

  say("BEGIN");
  const single = await inTurns(sessions, readSeconds, readOne);
  say("END");
  say("ROUNDTRIPS " + single.join(" "));

  const batchSize = Math.min(1000, n);
  const batches = [];
  for (let b = 0; b * batchSize < n; ++b) {
    const ids = [];
    for (let i = 0; i < batchSize; ++i) ids.push(node((b * batchSize + i) % n));
    batches.push(ids);
  }
  const readBatch = async (s, done) => {
    const results = await s.read(batches[(done / batchSize) % batches.length]);
    if (results.length !== batchSize || results[0].statusCode !== opcua.StatusCodes.Good)
      throw new Error("batch read " + results.length + " " + (results[0] && results[0].statusCode.name));
    return results.length;
  };
  await inTurns(sessions, 1, readBatch);
  say("BEGIN");
  const batch = await inTurns(sessions, readSeconds, readBatch);
  say("END");
  say("BATCH " + batch.join(" "));
  // Both sessions open and quiet: what each server spends on its own.
  say("IDLE");
  await sleep(4000);
  say("IDLED");

  const rates = [];
  for (let k = 0; k < sessions.length; ++k) {
    const subscription = await sessions[k].createSubscription2({ requestedPublishingInterval: 250,
      requestedMaxKeepAliveCount: 10, requestedLifetimeCount: 40, maxNotificationsPerPublish: 0,
      publishingEnabled: true });
    const items = [];
    for (let i = 0; i < n; ++i) items.push(node(i));
    const group = await subscription.monitorItems(items, { samplingInterval: 250, queueSize: 1, discardOldest: true },
      opcua.TimestampsToReturn.Both);
    let counting = false, changes = 0;
    group.on("changed", () => { if (counting) ++changes; });
    await sleep(settle * 1000);
    say("COUNTING " + k);
    counting = true;
    const start = now();
    await sleep(count * 1000);
    counting = false;
    const seconds = now() - start;
    say("COUNTED " + k);
    rates.push((changes / seconds).toFixed(0));
    await subscription.terminate();
  }
  say("RATE " + rates.join(" "));
  for (const p of peers) {
    await p.session.close();
    await p.client.disconnect();
  }
  process.exit(0);
}
main().catch((e) => { say("ERROR " + String(e && e.message ? e.message : e).replace(/\s+/g, " ")); process.exit(1); });

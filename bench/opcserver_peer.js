// node-opcua client for the OPC UA server bench. Against a server whose
// Variables ns=1;s=Bench.B0 .. B<n-1> all change once a second it measures,
// one after the other:
//   ROUNDTRIPS <reads per second>   Reads of one node, each awaited
//   BATCH <nodes per second>        Reads of 1000 nodes, each awaited
//   RATE <data changes per second>  one subscription over all n nodes
//                                   (publishing 250 ms, sampling 250 ms,
//                                   queue 1), counted for <count> seconds
//                                   after <settle> seconds
// "COUNTING" and "COUNTED" frame the counting window, so that the caller
// can take the server's CPU time over the same span.
//   node opcserver_peer.js <url> <n> <phase seconds> <settle> <count>
"use strict";
const opcua = require("node-opcua");
const [url, n, phase, settle, count] = [process.argv[2], Number(process.argv[3]), Number(process.argv[4]),
  Number(process.argv[5]), Number(process.argv[6])];

const say = (line) => process.stdout.write(line + "\n");
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const node = (i) => ({ nodeId: "ns=1;s=Bench.B" + i, attributeId: opcua.AttributeIds.Value });

async function main() {
  const client = opcua.OPCUAClient.create({ endpointMustExist: false, securityMode: opcua.MessageSecurityMode.None,
    securityPolicy: opcua.SecurityPolicy.None, requestedSessionTimeout: 120000,
    connectionStrategy: { maxRetry: 3, initialDelay: 200, maxDelay: 1000 } });
  await client.connect(url);
  const session = await client.createSession();

  // Warm both sides up before anything is timed.
  for (let i = 0; i < 50; ++i) await session.read(node(i % n));

  let reads = 0;
  let end = Date.now() + phase * 1000;
  const t0 = process.hrtime.bigint();
  while (Date.now() < end) {
    const dv = await session.read(node(reads % n));
    if (dv.statusCode !== opcua.StatusCodes.Good) throw new Error("read " + dv.statusCode.name);
    ++reads;
  }
  say("ROUNDTRIPS " + (reads / (Number(process.hrtime.bigint() - t0) / 1e9)).toFixed(0));

  const batchSize = Math.min(1000, n);
  const batches = [];
  for (let b = 0; b * batchSize < n; ++b) {
    const ids = [];
    for (let i = 0; i < batchSize; ++i) ids.push(node((b * batchSize + i) % n));
    batches.push(ids);
  }
  let nodes = 0;
  end = Date.now() + phase * 1000;
  const t1 = process.hrtime.bigint();
  for (let k = 0; Date.now() < end; ++k) {
    const results = await session.read(batches[k % batches.length]);
    if (results.length !== batchSize || results[0].statusCode !== opcua.StatusCodes.Good)
      throw new Error("batch read " + results.length + " " + (results[0] && results[0].statusCode.name));
    nodes += results.length;
  }
  say("BATCH " + (nodes / (Number(process.hrtime.bigint() - t1) / 1e9)).toFixed(0));

  const subscription = await session.createSubscription2({ requestedPublishingInterval: 250,
    requestedMaxKeepAliveCount: 10, requestedLifetimeCount: 40, maxNotificationsPerPublish: 0,
    publishingEnabled: true });
  const items = [];
  for (let i = 0; i < n; ++i) items.push(node(i));
  const group = await subscription.monitorItems(items, { samplingInterval: 250, queueSize: 1, discardOldest: true },
    opcua.TimestampsToReturn.Both);
  let counting = false, changes = 0;
  group.on("changed", () => { if (counting) ++changes; });
  say("SUBSCRIBED");
  await sleep(settle * 1000);
  say("COUNTING");
  counting = true;
  const t2 = process.hrtime.bigint();
  await sleep(count * 1000);
  counting = false;
  const seconds = Number(process.hrtime.bigint() - t2) / 1e9;
  say("COUNTED");
  say("RATE " + (changes / seconds).toFixed(0));
  await subscription.terminate();
  await session.close();
  await client.disconnect();
  process.exit(0);
}
main().catch((e) => { say("ERROR " + String(e && e.message ? e.message : e).replace(/\s+/g, " ")); process.exit(1); });

// node-opcua client for the OPC client bench: subscribes to Bench.B0..B<n-1>
// as clientkit does (publishing 250 ms, sampling 250 ms, queue 1), waits
// `settle` seconds, then counts data changes for `seconds` and prints
// "RATE <changes per second>".
//   node opcclient_peer.js <url> <n> <settle> <seconds>
"use strict";
const opcua = require("node-opcua");
const [url, n, settle, seconds] = [process.argv[2], Number(process.argv[3]), Number(process.argv[4]), Number(process.argv[5])];

async function main() {
  const client = opcua.OPCUAClient.create({ endpointMustExist: false, securityMode: opcua.MessageSecurityMode.None,
    securityPolicy: opcua.SecurityPolicy.None, requestedSessionTimeout: 60000 });
  await client.connect(url);
  const session = await client.createSession();
  const subscription = await session.createSubscription2({ requestedPublishingInterval: 250,
    requestedMaxKeepAliveCount: 10, requestedLifetimeCount: 40, maxNotificationsPerPublish: 0, publishingEnabled: true });
  const items = [];
  for (let i = 0; i < n; ++i) items.push({ nodeId: "ns=1;s=Bench.B" + i, attributeId: opcua.AttributeIds.Value });
  const group = await subscription.monitorItems(items, { samplingInterval: 250, queueSize: 1, discardOldest: true },
    opcua.TimestampsToReturn.Both);
  let counting = false, count = 0;
  group.on("changed", () => { if (counting) ++count; });
  console.log("SUBSCRIBED");
  await new Promise((r) => setTimeout(r, settle * 1000));
  counting = true;
  await new Promise((r) => setTimeout(r, seconds * 1000));
  counting = false;
  console.log("RATE " + (count / seconds).toFixed(0));
  await session.close();
  await client.disconnect();
  process.exit(0);
}
main().catch((e) => { console.error(e); process.exit(1); });

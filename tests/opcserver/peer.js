// node-opcua as a client of Plexmar's OPC UA server, driven by the interop
// tests: one command per run, answers one line each on standard output.
"use strict";
const opcua = require("node-opcua");
const {
  OPCUAClient, AttributeIds, DataType, StatusCodes, TimestampsToReturn, ClientSubscription,
  ClientMonitoredItem, BrowseDirection, MessageSecurityMode, SecurityPolicy,
} = opcua;
const readline = require("readline");

const [command, url, ...args] = process.argv.slice(2);
const say = (line) => process.stdout.write(line + "\n");

function makeClient(extra) {
  return OPCUAClient.create(Object.assign({
    applicationName: "plexmar-interop",
    endpointMustExist: false,
    securityMode: MessageSecurityMode.None,
    securityPolicy: SecurityPolicy.None,
    connectionStrategy: { maxRetry: 2, initialDelay: 200, maxDelay: 1000 },
    requestedSessionTimeout: 60000,
  }, extra || {}));
}

async function withSession(fn, options) {
  const client = makeClient(options);
  await client.connect(url);
  const session = await client.createSession();
  try {
    return await fn(session, client);
  } finally {
    await session.close();
    await client.disconnect();
  }
}

function show(v) {
  if (v === null || v === undefined) return "null";
  if (typeof v === "bigint") return v.toString();
  if (Array.isArray(v) || ArrayBuffer.isView(v)) return "[" + Array.from(v).map(show).join(",") + "]";
  if (typeof v === "object" && v.constructor && v.constructor.name === "Array") return "[" + v.map(show).join(",") + "]";
  if (Array.isArray(v) && v.length === 2 && typeof v[0] === "number") return String(v[0] * 4294967296 + v[1]);
  return JSON.stringify(v);
}

function valueText(dv) {
  const v = dv.value;
  if (!v) return "null";
  if (v.dataType === DataType.Int64 || v.dataType === DataType.UInt64) {
    // node-opcua gives 64-bit integers as [high, low] words.
    const x = v.value;
    if (Array.isArray(x) && x.length === 2 && typeof x[0] === "number") {
      const bits = (BigInt(x[0] >>> 0) << 32n) | BigInt(x[1] >>> 0);
      return String(v.dataType === DataType.Int64 ? BigInt.asIntN(64, bits) : bits);
    }
  }
  return show(v.value);
}

async function browseAll(session, nodeId, maxRefs) {
  const first = await session.browse({
    nodeId, browseDirection: BrowseDirection.Forward, referenceTypeId: "HierarchicalReferences",
    includeSubtypes: true, nodeClassMask: 0, resultMask: 63,
  });
  let refs = first.references || [];
  let cp = first.continuationPoint;
  let pages = 1;
  while (cp && cp.length) {
    const next = await session.browseNext(cp, false);
    refs = refs.concat(next.references || []);
    cp = next.continuationPoint;
    pages++;
  }
  return { refs, pages, status: first.statusCode.name };
}

async function main() {
  switch (command) {
    case "browse": {
      await withSession(async (session) => {
        const root = await browseAll(session, "i=84");
        const objects = root.refs.find((r) => r.browseName.name === "Objects");
        say("root " + root.refs.map((r) => r.browseName.name).join(","));
        const inObjects = await browseAll(session, objects.nodeId);
        const tags = inObjects.refs.find((r) => r.browseName.name === "Tags");
        say("objects " + inObjects.refs.map((r) => r.browseName.name).join(","));
        say("tagsfolder " + tags.nodeId.toString());
        const inTags = await browseAll(session, tags.nodeId);
        for (const r of inTags.refs)
          say("tag " + r.browseName.namespaceIndex + ":" + r.browseName.name + " " + r.nodeId.toString() + " " +
              r.displayName.text + " " + opcua.NodeClass[r.nodeClass]);
        const ns = await session.read({ nodeId: "i=2255", attributeId: AttributeIds.Value });
        say("namespaces " + ns.value.value.join(","));
        const state = await session.read({ nodeId: "i=2259", attributeId: AttributeIds.Value });
        say("state " + state.statusCode.name + " " + state.value.value);
      });
      break;
    }
    case "read": {
      await withSession(async (session) => {
        for (const name of args) {
          const nodeId = "ns=1;s=" + name;
          const [dv, dt, rank, access] = await session.read([
            { nodeId, attributeId: AttributeIds.Value },
            { nodeId, attributeId: AttributeIds.DataType },
            { nodeId, attributeId: AttributeIds.ValueRank },
            { nodeId, attributeId: AttributeIds.AccessLevel },
          ], 0);
          const src = dv.sourceTimestamp ? dv.sourceTimestamp.getTime() : 0;
          say("read " + name + " " + dv.statusCode.name + " " + (dt.value.value ? dt.value.value.toString() : "-") +
              " " + rank.value.value + " " + access.value.value + " " + src + " " +
              (dv.value ? DataType[dv.value.dataType] : "-") + " " + valueText(dv));
        }
      });
      break;
    }
    case "write": {
      // write (<name> <DataType or DataType[]> <json value>)...
      await withSession(async (session) => {
        for (let i = 0; i + 2 < args.length; i += 3) {
          const [name, typeText, json] = args.slice(i, i + 3);
          const array = typeText.endsWith("[]");
          const dataType = DataType[array ? typeText.slice(0, -2) : typeText];
          let value = JSON.parse(json);
          const wide = dataType === DataType.Int64 || dataType === DataType.UInt64;
          if (wide) value = array ? value.map((x) => [0, x]) : [0, value];
          const variant = new opcua.Variant({
            dataType, value,
            arrayType: array ? opcua.VariantArrayType.Array : opcua.VariantArrayType.Scalar,
          });
          const status = await session.write({ nodeId: "ns=1;s=" + name, attributeId: AttributeIds.Value, value: { value: variant } });
          const back = await session.read({ nodeId: "ns=1;s=" + name, attributeId: AttributeIds.Value });
          say("write " + name + " " + status.name + " " + back.statusCode.name + " " +
              (back.value ? DataType[back.value.dataType] : "-") + " " + valueText(back));
        }
      });
      break;
    }
    case "subscribe": {
      const [name, interval] = args;
      await withSession(async (session) => {
        const sub = ClientSubscription.create(session, {
          requestedPublishingInterval: Number(interval), requestedLifetimeCount: 600, requestedMaxKeepAliveCount: 10,
          maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 1,
        });
        await new Promise((resolve) => sub.on("started", resolve));
        const item = ClientMonitoredItem.create(sub, { nodeId: "ns=1;s=" + name, attributeId: AttributeIds.Value },
          { samplingInterval: Number(interval), discardOldest: true, queueSize: 1 }, TimestampsToReturn.Both);
        let readyAt = 0;
        const done = new Promise((resolve) => {
          item.on("changed", (dv) => {
            if (!readyAt) {
              say("initial " + valueText(dv));
              readyAt = Date.now();
              say("ready");
            } else {
              say("changed " + valueText(dv) + " " + (Date.now() - readyAt));
              resolve();
            }
          });
        });
        await Promise.race([done, new Promise((r) => setTimeout(r, 15000))]);
        await sub.terminate();
      });
      break;
    }
    case "many": {
      const [count, ...names] = args;
      const one = async (k) => {
        const client = makeClient();
        await client.connect(url);
        const session = await client.createSession();
        const results = await session.read(names.map((n) => ({ nodeId: "ns=1;s=" + n, attributeId: AttributeIds.Value })));
        const good = results.filter((r) => r.statusCode === StatusCodes.Good).length;
        await session.close();
        await client.disconnect();
        return good;
      };
      const all = await Promise.all(Array.from({ length: Number(count) }, (_, k) => one(k)));
      say("many " + all.join(","));
      break;
    }
    case "reconnect": {
      const [name] = args;
      const client = makeClient({ connectionStrategy: { maxRetry: 100, initialDelay: 200, maxDelay: 500 } });
      await client.connect(url);
      const session = await client.createSession();
      const before = await session.read({ nodeId: "ns=1;s=" + name, attributeId: AttributeIds.Value });
      say("before " + before.statusCode.name);
      const rl = readline.createInterface({ input: process.stdin });
      await new Promise((resolve) => rl.once("line", resolve));
      // The server came back: the client reconnects and, its old session gone,
      // makes a new one.
      let after = null;
      for (let i = 0; i < 60 && !(after && after.statusCode === StatusCodes.Good); i++) {
        try {
          after = await session.read({ nodeId: "ns=1;s=" + name, attributeId: AttributeIds.Value });
        } catch (e) {
          await new Promise((r) => setTimeout(r, 250));
        }
      }
      say("after " + (after ? after.statusCode.name : "none") + " " + (after ? valueText(after) : ""));
      rl.close();
      try { await session.close(); } catch (e) {}
      await client.disconnect();
      break;
    }
    case "browsenext": {
      const [perNode] = args;
      await withSession(async (session) => {
        const first = await session.browse({
          nodeId: "ns=1;s=Tags", browseDirection: BrowseDirection.Forward, referenceTypeId: "Organizes",
          includeSubtypes: true, nodeClassMask: 0, resultMask: 63,
        });
        // node-opcua's session.browse walks continuation points by itself
        // unless asked not to; use the raw service to see them.
        say("first " + first.references.length);
      }, {});
      const client = makeClient();
      await client.connect(url);
      const session = await client.createSession();
      session.requestedMaxReferencesPerNode = Number(perNode);
      const res = await session.performMessageTransaction(new opcua.BrowseRequest({
        nodesToBrowse: [{ nodeId: "ns=1;s=Tags", browseDirection: BrowseDirection.Forward, referenceTypeId: "i=35",
                          includeSubtypes: true, nodeClassMask: 0, resultMask: 63 }],
        requestedMaxReferencesPerNode: Number(perNode),
      }));
      let refs = res.results[0].references.length;
      let cp = res.results[0].continuationPoint;
      let pages = 1;
      const names = res.results[0].references.map((r) => r.browseName.name);
      while (cp && cp.length) {
        const next = await session.performMessageTransaction(new opcua.BrowseNextRequest({
          releaseContinuationPoints: false, continuationPoints: [cp] }));
        const r = next.results[0];
        refs += r.references.length;
        names.push(...r.references.map((x) => x.browseName.name));
        cp = r.continuationPoint;
        pages++;
      }
      // A released continuation point is gone.
      const again = await session.performMessageTransaction(new opcua.BrowseRequest({
        nodesToBrowse: [{ nodeId: "ns=1;s=Tags", browseDirection: BrowseDirection.Forward, referenceTypeId: "i=35",
                          includeSubtypes: true, nodeClassMask: 0, resultMask: 63 }],
        requestedMaxReferencesPerNode: Number(perNode),
      }));
      const cp2 = again.results[0].continuationPoint;
      await session.performMessageTransaction(new opcua.BrowseNextRequest({ releaseContinuationPoints: true, continuationPoints: [cp2] }));
      const stale = await session.performMessageTransaction(new opcua.BrowseNextRequest({ releaseContinuationPoints: false, continuationPoints: [cp2] }));
      say("pages " + pages + " refs " + refs + " unique " + new Set(names).size + " released " + stale.results[0].statusCode.name);
      await session.close();
      await client.disconnect();
      break;
    }
    case "large": {
      const [name, size] = args;
      await withSession(async (session) => {
        const text = "x".repeat(Number(size) - 1) + "!";
        const status = await session.write({ nodeId: "ns=1;s=" + name, attributeId: AttributeIds.Value,
          value: { value: { dataType: DataType.String, value: text } } });
        const back = await session.read({ nodeId: "ns=1;s=" + name, attributeId: AttributeIds.Value });
        const same = back.value && back.value.value === text;
        say("large " + status.name + " " + back.statusCode.name + " " + (back.value && back.value.value ? back.value.value.length : 0) + " " + same);
      });
      break;
    }
    default:
      throw new Error("unknown command " + command);
  }
}

main().then(() => process.exit(0)).catch((e) => {
  say("error " + String(e && e.message ? e.message : e).replace(/\s+/g, " "));
  process.exit(1);
});

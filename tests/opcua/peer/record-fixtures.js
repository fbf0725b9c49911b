// Records real node-opcua traffic as fixtures for the encoder and decoder
// tests and as the fuzz corpus: a node-opcua client talks to a node-opcua
// server through a TCP relay that writes every UA TCP frame it passes to
// <out>/NNN-<c2s|s2c>-<TYPE>.bin, and each direction's whole stream to
// <corpus>/<name>.bin.
//
//   node record-fixtures.js <fixtures folder> <corpus folder>
"use strict";
const net = require("net");
const fs = require("fs");
const path = require("path");
const opcua = require("node-opcua");

const outDir = process.argv[2];
const corpusDir = process.argv[3];
fs.mkdirSync(outDir, { recursive: true });
fs.mkdirSync(corpusDir, { recursive: true });

let frameNo = 0;
const streams = { c2s: [], s2c: [] };

function splitter(direction) {
  let pending = Buffer.alloc(0);
  return (data) => {
    streams[direction].push(Buffer.from(data));
    pending = Buffer.concat([pending, data]);
    while (pending.length >= 8) {
      const size = pending.readUInt32LE(4);
      if (pending.length < size) break;
      const frame = pending.subarray(0, size);
      const type = frame.toString("latin1", 0, 3);
      const name = `${String(++frameNo).padStart(3, "0")}-${direction}-${type}.bin`;
      fs.writeFileSync(path.join(outDir, name), frame);
      pending = pending.subarray(size);
    }
  };
}

async function main() {
  const server = new opcua.OPCUAServer({ port: 0 + Number(process.env.REC_SERVER_PORT || 48611),
                                         maxAllowedSessionNumber: 10 });
  await server.initialize();
  const ns = server.engine.addressSpace.getOwnNamespace();
  const folder = ns.addFolder(server.engine.addressSpace.rootFolder.objects, { browseName: "Tags", nodeId: "s=Tags" });
  const vars = [
    ["Flag", opcua.DataType.Boolean, true],
    ["Small", opcua.DataType.Int16, -12],
    ["Count", opcua.DataType.Int32, 123456],
    ["Level", opcua.DataType.Float, 2.5],
    ["Pressure", opcua.DataType.Double, 1013.25],
    ["Label", opcua.DataType.String, "Pump 1"],
    ["Raw", opcua.DataType.Byte, 200],
  ];
  for (const [name, dataType, value] of vars) {
    ns.addVariable({ componentOf: folder, browseName: name, nodeId: "s=" + name, dataType,
                     value: { dataType, value }, accessLevel: "CurrentRead | CurrentWrite",
                     userAccessLevel: "CurrentRead | CurrentWrite" });
  }
  ns.addVariable({ componentOf: folder, browseName: "Curve", nodeId: "s=Curve", dataType: opcua.DataType.Double,
                   valueRank: 1, value: { dataType: opcua.DataType.Double, arrayType: opcua.VariantArrayType.Array,
                                          value: new Float64Array([1, 2, 3, 4]) } });
  await server.start();
  const serverPort = server.endpoints[0].port;

  const relay = net.createServer((client) => {
    const upstream = net.connect(serverPort, "127.0.0.1");
    const c2s = splitter("c2s"), s2c = splitter("s2c");
    client.on("data", (d) => { c2s(d); upstream.write(d); });
    upstream.on("data", (d) => { s2c(d); client.write(d); });
    client.on("close", () => upstream.end());
    upstream.on("close", () => client.end());
    client.on("error", () => {});
    upstream.on("error", () => {});
  });
  await new Promise((r) => relay.listen(0, "127.0.0.1", r));
  const url = `opc.tcp://127.0.0.1:${relay.address().port}`;

  const client = opcua.OPCUAClient.create({ endpointMustExist: false, connectionStrategy: { maxRetry: 0 } });
  await client.connect(url);
  await client.getEndpoints();
  await client.findServers();
  const session = await client.createSession();
  await session.browse("ns=0;i=84");
  await session.browse({ nodeId: "ns=1;s=Tags", referenceTypeId: "HierarchicalReferences", includeSubtypes: true,
                         browseDirection: opcua.BrowseDirection.Forward, resultMask: 63 });
  await session.translateBrowsePath(opcua.makeBrowsePath("RootFolder", "/Objects/Server.ServerStatus"));
  const ids = vars.map(([name]) => "ns=1;s=" + name).concat(["ns=1;s=Curve"]);
  await session.read(ids.map((nodeId) => ({ nodeId, attributeId: opcua.AttributeIds.Value })));
  await session.read([{ nodeId: "ns=0;i=2256", attributeId: opcua.AttributeIds.Value },
                      { nodeId: "ns=1;s=Count", attributeId: opcua.AttributeIds.DataType },
                      { nodeId: "ns=1;s=Count", attributeId: opcua.AttributeIds.BrowseName },
                      { nodeId: "ns=1;s=Count", attributeId: opcua.AttributeIds.DisplayName },
                      { nodeId: "ns=0;i=2255", attributeId: opcua.AttributeIds.Value }]);
  await session.write([
    { nodeId: "ns=1;s=Small", attributeId: opcua.AttributeIds.Value,
      value: { value: { dataType: opcua.DataType.Int16, value: 7 } } },
    { nodeId: "ns=1;s=Label", attributeId: opcua.AttributeIds.Value,
      value: { value: { dataType: opcua.DataType.String, value: "Pump 2" } } },
    { nodeId: "ns=1;s=Curve", attributeId: opcua.AttributeIds.Value,
      value: { value: { dataType: opcua.DataType.Double, arrayType: opcua.VariantArrayType.Array,
                        value: new Float64Array([5, 6]) } } },
  ]);
  await session.registerNodes(["ns=1;s=Count"]);
  await session.unregisterNodes(["ns=1;s=Count"]);
  const subscription = await session.createSubscription2({ requestedPublishingInterval: 100, requestedLifetimeCount: 100,
                                                           requestedMaxKeepAliveCount: 10, publishingEnabled: true });
  const item = await subscription.monitor({ nodeId: "ns=1;s=Count", attributeId: opcua.AttributeIds.Value },
                                          { samplingInterval: 100, queueSize: 1, discardOldest: true },
                                          opcua.TimestampsToReturn.Both);
  await new Promise((r) => setTimeout(r, 300));
  await session.write({ nodeId: "ns=1;s=Count", attributeId: opcua.AttributeIds.Value,
                        value: { value: { dataType: opcua.DataType.Int32, value: 99 } } });
  await new Promise((r) => setTimeout(r, 400));
  await item.terminate();
  await subscription.terminate();
  await session.close();
  await client.disconnect();
  relay.close();
  await server.shutdown(0);
  fs.writeFileSync(path.join(corpusDir, "session-c2s.bin"), Buffer.concat(streams.c2s));
  fs.writeFileSync(path.join(corpusDir, "session-s2c.bin"), Buffer.concat(streams.s2c));
  console.log(`recorded ${frameNo} frames`);
  process.exit(0);
}

main().catch((e) => { console.error(e); process.exit(1); });

// A node-opcua server for the client toolkit's tests.
//   node ua_server.js <port> [name] [items]
// Objects holds a folder Line1 with one variable of every mapped type, a leaf
// whose browse name has three dotted parts, a folder Pump with Speed, a
// writable Setpoint that reports each write on stdout ("WRITE <value>"), and
// Ramp, which counts up every 100 ms. With `items`, a folder Bench holds that
// many Doubles that all change once a second; each change is reported as
// "CHANGE <tick> <unix ms>". Prints "READY <port>" once listening; a line
// "set <name> <number>" on stdin sets Line1's Double or Int32 variable.
"use strict";
const opcua = require("node-opcua");
const { DataType, Variant, StatusCodes } = opcua;

const port = Number(process.argv[2] || 48400);
const name = process.argv[3] || "Plexmar Test Server";
const benchItems = Number(process.argv[4] || 0);

async function main() {
  const server = new opcua.OPCUAServer({
    port,
    resourcePath: "/UA/Test",
    serverInfo: { applicationName: { text: name }, applicationUri: "urn:plexmar:test:" + port },
    buildInfo: { productName: name },
    securityModes: [opcua.MessageSecurityMode.None],
    securityPolicies: [opcua.SecurityPolicy.None],
    allowAnonymous: true,
    maxConnectionsPerEndpoint: 50,
  });
  await server.initialize();
  const space = server.engine.addressSpace;
  const ns = space.getOwnNamespace();
  const objects = space.rootFolder.objects;
  const line1 = ns.addFolder(objects, { browseName: "Line1" });

  const now = new Date(Date.UTC(2026, 11, 8, 12, 30, 15, 250));
  const values = {
    Bool: [DataType.Boolean, true],
    SByte: [DataType.SByte, -5],
    Byte: [DataType.Byte, 200],
    Int16: [DataType.Int16, -1234],
    UInt16: [DataType.UInt16, 60000],
    Int32: [DataType.Int32, -100000],
    UInt32: [DataType.UInt32, 4000000000],
    Int64: [DataType.Int64, [0x7fffffff, 0xffffffff]],
    UInt64: [DataType.UInt64, [0x00000001, 0x00000002]],
    Float: [DataType.Float, 1.5],
    Double: [DataType.Double, 2.25],
    String: [DataType.String, "Grüße"],
    DateTime: [DataType.DateTime, now],
    ByteString: [DataType.ByteString, Buffer.from([1, 2, 255])],
    LocalizedText: [DataType.LocalizedText, new opcua.LocalizedText({ text: "Pumpe an", locale: "de" })],
    Guid: [DataType.Guid, "72962B91-FA75-4AE6-8D28-B404DC7DAF63"],
  };
  const current = {};
  for (const [key, [type, value]] of Object.entries(values)) {
    current[key] = new Variant({ dataType: type, arrayType: opcua.VariantArrayType.Scalar, value });
    ns.addVariable({
      componentOf: line1,
      browseName: key,
      nodeId: "s=Line1." + key,
      dataType: opcua.DataType[type],
      minimumSamplingInterval: 100,
      value: { get: () => current[key], set: (v) => { current[key] = v; return StatusCodes.Good; } },
    });
  }
  current.DoubleArray = new Variant({ dataType: DataType.Double, arrayType: opcua.VariantArrayType.Array, value: [1, 2, 3] });
  ns.addVariable({
    componentOf: line1, browseName: "DoubleArray", nodeId: "s=Line1.DoubleArray", dataType: "Double", valueRank: 1, minimumSamplingInterval: 100,
    value: { get: () => current.DoubleArray },
  });
  let flow = 7.5;
  ns.addVariable({
    componentOf: line1, browseName: "Plant.Line1.Flow", nodeId: "s=Line1.Flow", dataType: "Double", minimumSamplingInterval: 100,
    value: { get: () => new Variant({ dataType: DataType.Double, value: flow }) },
  });
  let setpoint = 0;
  ns.addVariable({
    componentOf: line1, browseName: "Setpoint", nodeId: "s=Line1.Setpoint", dataType: "Double",
    accessLevel: "CurrentRead | CurrentWrite", minimumSamplingInterval: 100, userAccessLevel: "CurrentRead | CurrentWrite",
    value: {
      get: () => new Variant({ dataType: DataType.Double, value: setpoint }),
      set: (v) => { setpoint = v.value; console.log("WRITE " + setpoint); return StatusCodes.Good; },
    },
  });
  const pump = ns.addFolder(line1, { browseName: "Pump" });
  ns.addVariable({ componentOf: pump, browseName: "Speed", nodeId: "i=50001", dataType: "Int32",
    value: new Variant({ dataType: DataType.Int32, value: 1450 }) });
  ns.addFolder(line1, { browseName: "Empty" });
  let ramp = 0;
  const rampVar = ns.addVariable({ componentOf: line1, browseName: "Ramp", nodeId: "s=Line1.Ramp", dataType: "Int32",
    value: new Variant({ dataType: DataType.Int32, value: 0 }) });
  setInterval(() => { ramp += 1; rampVar.setValueFromSource(new Variant({ dataType: DataType.Int32, value: ramp })); }, 100);

  if (benchItems > 0) {
    const bench = ns.addFolder(objects, { browseName: "Bench" });
    const vars = [];
    for (let i = 0; i < benchItems; ++i)
      vars.push(ns.addVariable({ componentOf: bench, browseName: "B" + i, nodeId: "s=Bench.B" + i, dataType: "Double",
        value: new Variant({ dataType: DataType.Double, value: 0 }) }));
    let tick = 0;
    setInterval(() => {
      tick += 1;
      const stamp = Date.now();
      for (const v of vars) v.setValueFromSource(new Variant({ dataType: DataType.Double, value: tick }));
      console.log("CHANGE " + tick + " " + stamp);
    }, 1000);
  }

  await server.start();
  console.log("READY " + port);
  process.stdin.setEncoding("utf8");
  let pending = "";
  process.stdin.on("data", (chunk) => {
    pending += chunk;
    let nl;
    while ((nl = pending.indexOf("\n")) >= 0) {
      const [cmd, key, value] = pending.slice(0, nl).trim().split(/\s+/);
      pending = pending.slice(nl + 1);
      if (cmd === "set" && key === "Flow") flow = Number(value);
      else if (cmd === "set" && current[key]) current[key] = new Variant({ dataType: current[key].dataType, value: Number(value) });
      console.log("OK " + cmd);
    }
  });
  process.stdin.on("end", () => process.exit(0));
  const stop = async () => { await server.shutdown(0); process.exit(0); };
  process.on("SIGTERM", stop);
  process.on("SIGINT", stop);
}

main().catch((e) => { console.error(e); process.exit(1); });

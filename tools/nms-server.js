#!/usr/bin/env node
// node-media-server, as the tests start it: RTMP, and RTMPS when a certificate is
// given, on 127.0.0.1; every publication recorded as FLV under DIR/record; publish
// authentication ("?sign=EXPIRY-MD5") when a secret is given. Each publish the
// server is asked for goes to DIR/publish.log as "prePublish PATH QUERY", and each
// one it takes as "postPublish PATH QUERY".
//
//   NODE_PATH=DIR_OF_node_modules tools/nms-server.js --dir DIR --port N
//       [--tls-port N --cert FILE --key FILE] [--secret TEXT]
"use strict";
const fs = require("fs");
const path = require("path");

function options(argv) {
  const named = {};
  for (let i = 0; i + 1 < argv.length; i += 2) {
    if (!argv[i].startsWith("--")) throw new Error(`unknown argument ${argv[i]}`);
    named[argv[i].slice(2)] = argv[i + 1];
  }
  if (!named.dir || !named.port) throw new Error("--dir and --port are needed");
  return named;
}

const given = options(process.argv.slice(2));
const config = {
  bind: "127.0.0.1",
  rtmp: { port: Number(given.port) },
  record: { path: path.join(given.dir, "record") },
  store: { path: path.join(given.dir, "data") },
  auth: { publish: Boolean(given.secret), play: false, secret: given.secret || "" },
};
if (given["tls-port"]) config.rtmps = { port: Number(given["tls-port"]), cert: given.cert, key: given.key };

const NodeMediaServer = require("node-media-server");
const log = fs.createWriteStream(path.join(given.dir, "publish.log"), { flags: "a" });
const server = new NodeMediaServer(config);
for (const event of ["prePublish", "postPublish"]) {
  server.on(event, (session) => log.write(`${event} ${session.streamPath} ${JSON.stringify(session.streamQuery)}\n`));
}
server.run();
process.on("SIGTERM", () => process.exit(0));

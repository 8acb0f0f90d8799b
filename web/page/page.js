// Polls /api/state twice a second and shows it. Text only goes in through textContent, so nothing
// the board or a client names can become markup.
"use strict";

const kPollMs = 500;

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function volts(v, digits) {
  if (v === null || v === undefined) return "not known";
  return v.toFixed(digits === undefined ? 3 : digits) + " V";
}

function facts(list, rows) {
  const dl = list || el("dl", "facts");
  dl.replaceChildren();
  for (const [name, value, cls] of rows) {
    dl.append(el("dt", "", name));
    dl.append(el("dd", cls || "", value));
  }
  return dl;
}

function limits(c) {
  if (c.limitLow === null && c.limitHigh === null) return "none";
  return (c.limitLow === null ? "no lower" : volts(c.limitLow)) + " to " +
         (c.limitHigh === null ? "no upper" : volts(c.limitHigh));
}

function ramp(c) {
  if (c.rampStep === null) return "none";
  return "steps of " + volts(c.rampStep) + " every " + c.rampWait.toFixed(3) + " s";
}

// A setting of the program's published description (SYSTem:DESCription?): its unit and bounds.
function setting(state, name) {
  return state.description.settings.find(s => s.name === name);
}

function showChannels(state) {
  const box = document.getElementById("channels");
  box.replaceChildren();
  const voltage = setting(state, "voltage");
  const data = setting(state, "data");
  state.channels.slice(0, state.description.channels).forEach((c, i) => {
    const card = el("article", "channel");
    card.dataset.channel = c.name;
    card.append(el("h3", "", c.name));
    card.append(el("p", "volts", c.known ? volts(c.volts) : "not known"));
    card.append(facts(null, [
      ["Code", c.code + " of " + (data ? data.max[i] : c.maxCode)],
      ["Range", c.rangeVolts === null ? "not known" : "±" + c.rangeVolts + " V"],
      ["Settable", voltage ? voltage.min[i] + " " + voltage.unit + " to " + voltage.max[i] + " " +
                             voltage.unit : "not known"],
      ["Limits", limits(c)],
      ["Ramp", ramp(c)],
      ["Driven by", c.drivenBy === null ? "nothing running" : c.drivenBy,
       c.drivenBy === null ? "" : "driven"],
      ["Last set by", c.lastSetBy === null ? "not since the page's server started" : c.lastSetBy],
    ]));
    box.append(card);
  });
}

function showBoard(state) {
  const t = state.temperature;
  facts(document.getElementById("board"), [
    ["Link", state.link.answering ? "answering" : state.link.problem,
     state.link.answering ? "" : "problem"],
    ["Die temperature", t.celsius === null ? (t.problem || "not known")
                                           : t.celsius.toFixed(1) + " °C"],
    ["LDAC", state.pins.ldac ? "high" : "low"],
    ["CLR", state.pins.clr ? "high" : "low (outputs held at 0 V)"],
    ["RSTIN", state.pins.rstin ? "high" : "low (outputs held at 0 V)"],
    ["Coding", state.coding === "binary" ? "offset binary" : "two's complement"],
    ["Pulse after data write", state.pulseAfterDataWrite ? "on" : "off"],
  ]);
}

function showActivities(state) {
  const list = document.getElementById("activities");
  list.replaceChildren();
  if (state.activities.length === 0) list.append(el("li", "", "nothing"));
  for (const a of state.activities) {
    const item = el("li", "activity");
    let text = a.name;
    if (a.channels.length) text += " on " + a.channels.join(", ");
    text += ", started by " + a.startedBy + ": ";
    item.append(text);
    if (a.total > 0) {
      const bar = el("progress");
      bar.max = a.total;
      bar.value = a.done;
      item.append(bar, " " + a.done + " of " + a.total);
    } else {
      item.append(a.progress || String(a.done));
    }
    list.append(item);
  }
}

function showOutcomes(state) {
  const list = document.getElementById("outcomes");
  list.replaceChildren();
  if (state.outcomes.length === 0) list.append(el("li", "", "none since the page's server started"));
  for (const o of state.outcomes.slice().reverse())
    list.append(el("li", "outcome problem", o.when + ": " + o.text));
}

function showIdentity(state) {
  const id = state.identity;
  document.getElementById("title").textContent = id.model + " evaluation board " + id.serial;
  document.title = id.model + " " + id.serial;
  facts(document.getElementById("identity"), [
    ["Manufacturer", id.manufacturer],
    ["Model", id.model + " (" + id.resolution + " bits)"],
    ["Serial", id.serial],
    ["Board", id.board],
    ["Program version", id.programVersion],
    ["Firmware", id.firmware],
    ["Host name", id.hostName],
    ["Web page", id.page],
    ["SCPI (raw socket)", id.scpi === null ? "not served" : id.scpi],
    ["VISA resource", id.visa.length ? id.visa.join(", ") : "none"],
    ["mDNS name", id.mdnsName === null ? "not advertised" : id.mdnsName],
  ]);
}

let failures = 0;

async function poll() {
  const status = document.getElementById("status");
  try {
    const answer = await fetch("/api/state", {cache: "no-store"});
    if (!answer.ok) throw new Error("the server answered " + answer.status);
    const state = await answer.json();
    showIdentity(state);
    showChannels(state);
    showBoard(state);
    showActivities(state);
    showOutcomes(state);
    failures = 0;
    status.className = "status";
    status.textContent = "Live, updated " + new Date().toLocaleTimeString();
  } catch (e) {
    failures += 1;
    status.className = "status problem";
    status.textContent = "Not updated: the program does not answer (" + e.message + ")";
  }
  setTimeout(poll, failures > 3 ? 2000 : kPollMs);
}

poll();

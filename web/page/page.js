// Polls /api/state twice a second and shows it. Text only goes in through textContent, so nothing
// the board or a client names can become markup. With a sign-in password set, a signed-in person
// sets a channel, opens a setup slot, stops a run or starts Safe State: every change carries the
// session's token, and a refusal is shown in the program's own words.
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
    ["Remote lock", state.lock === null ? "free"
                    : "held by " + state.lock + " (other clients' changes are refused)",
     state.lock === null ? "" : "problem"],
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

let token = null;

function say(text, ok) {
  const message = document.getElementById("message");
  message.className = "status " + (ok ? "done" : "problem");
  message.textContent = text;
}

function showSession(session) {
  token = session.signedIn ? session.token : null;
  document.getElementById("changes").hidden = !session.signIn;
  document.getElementById("signin").hidden = !session.signIn || session.signedIn;
  document.getElementById("signed-in").hidden = !session.signedIn;
  document.getElementById("mode").textContent =
      !session.signIn ? "Read-only view." : session.signedIn ? "Signed in." : "Sign in to change.";
}

async function post(path, body) {
  const headers = {"Content-Type": "application/json"};
  if (token) headers["X-TQ-Token"] = token;
  try {
    const answer = await fetch(path, {method: "POST", headers, body: JSON.stringify(body || {}),
                                      cache: "no-store", credentials: "same-origin"});
    const reply = await answer.json();
    if (answer.status === 403 && path !== "/api/signin") await session();
    return [answer.ok, reply];
  } catch (e) {
    return [false, {error: "the program does not answer (" + e.message + ")"}];
  }
}

async function session() {
  try {
    const answer = await fetch("/api/session", {cache: "no-store"});
    showSession(await answer.json());
  } catch (e) {
    // The state's poll says the program does not answer.
  }
}

async function change(body, what) {
  const [ok, reply] = await post("/api/change", body);
  say(ok ? what : "Refused: " + reply.error, ok);
}

function onSubmit(id, act) {
  document.getElementById(id).addEventListener("submit", e => {
    e.preventDefault();
    act();
  });
}

onSubmit("signin", async () => {
  const field = document.getElementById("password");
  const [ok, reply] = await post("/api/signin", {password: field.value});
  field.value = "";
  if (ok) showSession({signIn: true, signedIn: true, token: reply.token});
  say(ok ? "Signed in" : reply.error, ok);
});
onSubmit("set-voltage", () => {
  const channel = document.getElementById("channel");
  const volts = Number(document.getElementById("volts").value);
  change({action: "voltage", channel: Number(channel.value), volts},
         channel.selectedOptions[0].textContent + " set to " + volts + " V");
});
onSubmit("recall", () => {
  const slot = Number(document.getElementById("slot").value);
  change({action: "recall", slot}, "Setup slot " + slot + " opened");
});
document.getElementById("abort").addEventListener(
    "click", () => change({action: "abort"}, "Run stopped"));
document.getElementById("safe").addEventListener(
    "click", () => change({action: "safe"}, "Safe State started"));
document.getElementById("signout").addEventListener("click", async () => {
  await post("/api/signout");
  showSession({signIn: true, signedIn: false});
  say("Signed out", true);
});

session();
poll();

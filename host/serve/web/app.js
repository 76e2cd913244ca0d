// The forecourt page: talks only to the API under /api/v1, with the token
// the person gives once (kept for this browser session). Live through the
// event stream, read with fetch so that the token goes in a header; it
// reconnects by itself, with the last event's id, when the server restarts.
'use strict';

const TEXTS = {
  en: {
    title: 'Forecourt', offline: 'offline', live: 'live', token: 'Token', enter: 'Enter',
    token_hint: 'The token file is named when zarvo serve starts.', commands: 'Commands',
    pump: 'Pump', nozzle: 'Nozzle', price: 'Price', set_price: 'Set price', by_amount: 'by amount',
    by_volume: 'by volume', at_price: 'at price', preset: 'Preset', stop_pump: 'Stop pump',
    stop_line: 'Stop line', journal: 'Journal', time: 'Time', line: 'Line',
    transaction: 'Transaction', volume: 'Volume', amount: 'Amount', up: 'answering',
    down: 'not answering', last: 'last', litres: 'l', wrong_token: 'The token was not accepted.',
    done: 'done', idle: 'idle', lifted: 'nozzle {n} lifted', authorized: 'nozzle {n} authorized',
    lifted_authorized: 'nozzle {n} lifted, authorized', fuelling: 'fuelling', ended: 'ended',
    fault: 'dispenser fault', unknown: 'no answer yet',
    stopped: 'stopped', accepted: 'command accepted',
  },
  ru: {
    title: 'АЗС', offline: 'нет связи', live: 'на связи', token: 'Токен', enter: 'Войти',
    token_hint: 'Файл токена назван при запуске zarvo serve.', commands: 'Команды',
    pump: 'ТРК', nozzle: 'Пистолет', price: 'Цена', set_price: 'Задать цену',
    by_amount: 'на сумму', by_volume: 'на объём', at_price: 'по цене', preset: 'Заказать',
    stop_pump: 'Остановить ТРК', stop_line: 'Остановить линию', journal: 'Журнал', time: 'Время',
    line: 'Линия', transaction: 'Транзакция', volume: 'Объём', amount: 'Сумма', up: 'отвечает',
    down: 'не отвечает', last: 'последний', litres: 'л', wrong_token: 'Токен не принят.',
    done: 'выполнено', idle: 'свободна', lifted: 'снят пистолет {n}',
    authorized: 'разрешён отпуск, пистолет {n}', lifted_authorized: 'снят пистолет {n}, отпуск разрешён',
    fuelling: 'идёт отпуск', ended: 'отпуск окончен', fault: 'неисправность',
    unknown: 'ответа ещё нет', stopped: 'остановлена', accepted: 'команда принята',
  },
};
const LANG = (navigator.language || 'en').toLowerCase().startsWith('ru') ? 'ru' : 'en';
const T = TEXTS[LANG];
const API = '/api/v1';
const TOKEN_KEY = 'zarvo-token';

let token = sessionStorage.getItem(TOKEN_KEY) || '';
let lastEventId = '';
const pumps = new Map();  // "line/pump" -> pump as the API gives it

const $ = (id) => document.getElementById(id);
const key = (line, pump) => line + '/' + pump;
const fixed = (value) => Number(value || 0).toFixed(2);

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

// What a state code means, as a colour class and words.
function stateOf(pump) {
  const s = pump.state;
  if (pump.error) return ['s-error', pump.error];
  const nozzle = (text, base) => text.replace('{n}', String(s - base));
  if (s === 192) return ['s-idle', T.idle];
  if (s === 1) return ['s-idle', T.idle + ', ' + T.ended];
  if (s === 216) return ['s-ended', T.ended];
  if (s === 217) return ['s-fuelling', T.fuelling];
  if (s === 218) return ['s-authorized', T.stopped];
  if (s > 218 && s <= 222) return ['s-authorized', nozzle(T.authorized, 216)];
  if (s === 224) return ['s-idle', T.accepted];
  if (s > 224 && s <= 230) return ['s-lifted', nozzle(T.lifted, 224)];
  if (s > 232 && s <= 238) return ['s-fuelling', nozzle(T.lifted_authorized, 232)];
  if (s === 255) return ['s-fault', T.fault];
  return ['s-unknown', T.unknown];
}

async function call(method, path, body) {
  const options = { method, headers: { Authorization: 'Bearer ' + token }, cache: 'no-store' };
  if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(API + path, options);
  const answer = await response.json().catch(() => ({}));
  if (response.status === 401) askForToken(T.wrong_token);
  return { ok: response.ok, status: response.status, answer };
}

function askForToken(why) {
  sessionStorage.removeItem(TOKEN_KEY);
  token = '';
  $('station').classList.add('hidden');
  $('login').classList.remove('hidden');
  if (why) $('login').querySelector('.hint').textContent = why;
}

function drawTile(pump) {
  pumps.set(key(pump.line, pump.pump), pump);
  const id = 'p-' + pump.line + '-' + pump.pump;
  let tile = $(id);
  if (!tile) {
    tile = element('div', 'tile');
    tile.id = id;
    for (const part of ['h3', 'state', 'nozzle', 'reading', 'last', 'error']) {
      tile.appendChild(element(part === 'h3' ? 'h3' : 'div', part === 'h3' ? '' : part));
    }
    const reading = tile.querySelector('.reading');
    reading.appendChild(element('span', 'volume'));
    reading.appendChild(element('span', 'amount'));
    const tiles = $('tiles-' + pump.line);
    if (tiles) tiles.appendChild(tile);
  }
  const [cls, words] = stateOf(pump);
  tile.className = 'tile ' + cls;
  tile.querySelector('h3').textContent = T.pump + ' ' + pump.pump;
  tile.querySelector('.state').textContent = pump.error ? T.unknown : words;
  tile.querySelector('.error').textContent = pump.error || '';
  tile.querySelector('.nozzle').textContent = pump.nozzle ? T.nozzle + ' ' + pump.nozzle : '';
  const delivery = pump.delivery || {};
  tile.querySelector('.volume').textContent = fixed(delivery.volume) + ' ' + T.litres;
  tile.querySelector('.amount').textContent = fixed(delivery.amount);
  if (pump.last) {
    tile.querySelector('.last').textContent =
      T.last + ': #' + pump.last.transaction + ', ' + fixed(pump.last.volume) + ' ' + T.litres +
      ', ' + fixed(pump.last.amount);
  }
}

function drawLines(station) {
  const lines = $('lines');
  lines.textContent = '';
  const choice = $('cmd-pump');
  const chosen = choice.value;
  choice.textContent = '';
  for (const line of station.lines) {
    const box = element('div', 'line');
    box.id = 'line-' + line.line;
    const head = element('h2');
    head.appendChild(element('span', '', T.line + ' ' + line.line));
    head.appendChild(element('span', 'health ' + (line.up ? 'up' : 'down'),
                             line.up ? T.up : T.down + (line.error ? ': ' + line.error : '')));
    box.appendChild(head);
    const tiles = element('div', 'tiles');
    tiles.id = 'tiles-' + line.line;
    box.appendChild(tiles);
    lines.appendChild(box);
    for (const pump of line.pumps) {
      const option = element('option', '', T.line + ' ' + line.line + ', ' + T.pump + ' ' + pump);
      option.value = key(line.line, pump);
      choice.appendChild(option);
    }
  }
  if (chosen) choice.value = chosen;
  if (!choice.value && choice.options.length) choice.selectedIndex = 0;
}

function drawHealth(event) {
  const health = document.querySelector('#line-' + event.line + ' .health');
  if (!health) return;
  health.className = 'health ' + (event.up ? 'up' : 'down');
  health.textContent = event.up ? T.up : T.down + (event.error ? ': ' + event.error : '');
}

function addJournalRow(row) {
  const tr = element('tr');
  const cells = [row.id, (row.recorded_at || '').replace('T', ' ').replace('Z', ''), row.line,
                 row.pump, row.transaction, fixed(row.volume), fixed(row.amount)];
  for (const cell of cells) tr.appendChild(element('td', '', String(cell)));
  $('journal-rows').prepend(tr);
}

async function refresh() {
  const station = await call('GET', '/station');
  if (!station.ok) return false;
  $('driver').textContent = station.answer.driver + ' · zarvo ' + station.answer.version;
  drawLines(station.answer);
  const all = await call('GET', '/pumps');
  if (all.ok) for (const pump of all.answer.pumps) drawTile(pump);
  const journal = await call('GET', '/deliveries');
  if (journal.ok) {
    $('journal-rows').textContent = '';
    for (const row of journal.answer.deliveries) {
      addJournalRow(row);
      const pump = pumps.get(key(row.line, row.pump));
      if (pump) drawTile(Object.assign(pump, { last: row }));
    }
  }
  return true;
}

function onEvent(event) {
  const known = pumps.get(key(event.line, event.pump));
  if (event.event === 'state' && known) {
    drawTile(Object.assign(known, { state: event.state, error: event.error || null }));
  } else if (event.event === 'progress' && known) {
    drawTile(Object.assign(known, {
      nozzle: event.nozzle, delivery: { running: true, volume: event.volume, amount: event.amount },
    }));
  } else if (event.event === 'delivery') {
    const row = { id: event.journal_id, recorded_at: new Date().toISOString(), line: event.line,
                  pump: event.pump, transaction: event.transaction, volume: event.volume,
                  amount: event.amount };
    addJournalRow(row);
    if (known) {
      drawTile(Object.assign(known, {
        last: row, delivery: { running: false, volume: event.volume, amount: event.amount },
      }));
    }
  } else if (event.event === 'line') {
    drawHealth(event);
    if (event.up) refresh();
  }
}

function setLive(on) {
  $('live').className = 'live ' + (on ? 'on' : 'off');
  $('live').textContent = on ? T.live : T.offline;
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

async function listen() {
  while (token) {
    try {
      const headers = { Authorization: 'Bearer ' + token };
      if (lastEventId) headers['Last-Event-ID'] = lastEventId;
      const response = await fetch(API + '/events', { headers, cache: 'no-store' });
      if (response.status === 401) {
        askForToken(T.wrong_token);
        break;
      }
      if (response.ok) {
        setLive(true);
        await refresh();
        const reader = response.body.getReader();
        const decoder = new TextDecoder();
        let buffered = '';
        for (;;) {
          const { value, done } = await reader.read();
          if (done) break;
          buffered += decoder.decode(value, { stream: true });
          let end;
          while ((end = buffered.indexOf('\n\n')) >= 0) {
            const block = buffered.slice(0, end);
            buffered = buffered.slice(end + 2);
            let data = '';
            for (const field of block.split('\n')) {
              if (field.startsWith('id: ')) lastEventId = field.slice(4);
              if (field.startsWith('data: ')) data += field.slice(6);
            }
            if (data) onEvent(JSON.parse(data));
          }
        }
      }
    } catch (failure) {
      // The server went away: try again below.
    }
    setLive(false);
    await sleep(2000);
  }
}

function chosenPump() {
  const [line, pump] = $('cmd-pump').value.split('/').map(Number);
  return { line, pump, path: '/lines/' + line + '/pumps/' + pump };
}

function showOutcome(result) {
  const outcome = $('outcome');
  outcome.className = result.ok ? 'ok' : 'failed';
  outcome.textContent = result.ok ? T.done : result.status + ': ' + (result.answer.error || '');
}

async function command(run) {
  try {
    showOutcome(await run());
  } catch (failure) {
    showOutcome({ ok: false, status: 0, answer: { error: String(failure) } });
  }
}

function start() {
  for (const node of document.querySelectorAll('[data-text]')) {
    const text = T[node.dataset.text];
    if (text) node.textContent = text;
  }
  document.documentElement.lang = LANG;
  document.title = 'Zarvo: ' + T.title;
  $('login-form').addEventListener('submit', (event) => {
    event.preventDefault();
    token = $('token').value.trim();
    sessionStorage.setItem(TOKEN_KEY, token);
    begin();
  });
  const nozzle = () => Number($('nozzle').value);
  $('price-form').addEventListener('submit', (event) => {
    event.preventDefault();
    command(() => call('POST', chosenPump().path + '/price',
                       { nozzle: nozzle(), price: Number($('price-value').value) }));
  });
  $('preset-form').addEventListener('submit', (event) => {
    event.preventDefault();
    command(async () => {
      const target = chosenPump();
      if ($('preset-price').value !== '') {
        const priced = await call('POST', target.path + '/price',
                                  { nozzle: nozzle(), price: Number($('preset-price').value) });
        if (!priced.ok) return priced;
      }
      const body = { nozzle: nozzle() };
      body[$('preset-kind').value] = Number($('preset-value').value);
      return call('POST', target.path + '/preset', body);
    });
  });
  $('stop-pump').addEventListener('click', () => {
    command(() => call('POST', chosenPump().path + '/stop'));
  });
  $('stop-line').addEventListener('click', () => {
    command(() => call('POST', '/lines/' + chosenPump().line + '/stop-all'));
  });
  if (token) begin(); else askForToken();
}

function begin() {
  $('login').classList.add('hidden');
  $('station').classList.remove('hidden');
  listen();
}

start();

-- The two QuestDB tables that sonda-cobranca writes. It never creates, alters or reads them:
-- run these statements once on each server (bekClientes on the server of quest_db_ip,
-- bekCobranca on the server of quest_db_ip_chat), for example in the web console.

CREATE TABLE IF NOT EXISTS bekClientes (
    idCliente INT,
    razaoSocial SYMBOL CAPACITY 1048576 CACHE INDEX CAPACITY 256,
    cpfCnpj SYMBOL CAPACITY 1048576 CACHE,
    valorDivida DOUBLE,
    titulosDivida INT,
    contatoCliente SYMBOL CAPACITY 1048576 CACHE,
    tempoVencimento TIMESTAMP,
    nomeFantasia SYMBOL CAPACITY 1048576 CACHE,
    dataCadastro TIMESTAMP,
    statusContrato INT,
    bekIdentification SYMBOL CAPACITY 8 CACHE,
    timestamp TIMESTAMP
) TIMESTAMP(dataCadastro) PARTITION BY WEEK WAL DEDUP UPSERT KEYS(idCliente, dataCadastro);

CREATE TABLE IF NOT EXISTS bekCobranca (
    idCliente INT,
    valorDivida DOUBLE,
    titulosDivida INT,
    contatoCliente SYMBOL CAPACITY 1048576 CACHE,
    dataVencimento TIMESTAMP,
    dataCadastro TIMESTAMP,
    bekIdentification SYMBOL CAPACITY 8 CACHE,
    timestamp TIMESTAMP
) TIMESTAMP(dataCadastro) PARTITION BY WEEK WAL DEDUP UPSERT KEYS(idCliente, dataCadastro);
